// The facade's listener table as the worker reads it: a copy-on-write list
// of entries, so that delivery never holds a lock while a listener runs,
// and removal that waits for a call of the removed entry in progress.
#pragma once

#include "Quelto_DaqSystem.h"

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace Listeners {

struct ListenerEntry {
    Quelto_DataAvailableListener cb = nullptr;
    void* context = nullptr;
    std::shared_ptr<void> owned;  // released with the entry (C registrations)
    bool removed = false;         // guarded by the table's mutex
    int activeCalls = 0;          // guarded by the table's mutex
};

using EntryRef = std::shared_ptr<ListenerEntry>;
using EntryList = std::vector<EntryRef>;

class ListenerTable {
public:
    // `mirror`, when given, is kept equal to the live entries (the facade's
    // exported listener vector) under the table's lock, until Close.
    explicit ListenerTable(std::vector<Listener>* mirror = nullptr) : mirror_(mirror) {}

    void Add(Quelto_DataAvailableListener cb, void* context, std::shared_ptr<void> owned = {});
    // Removes the oldest live entry that `match` accepts. Waits until calls of
    // it running on other threads have returned. False when none matched.
    bool RemoveFirst(const std::function<bool(const ListenerEntry&)>& match);
    // After Close no entry is called again.
    void Close();

    std::shared_ptr<const EntryList> Snapshot() const;
    // Marks a call of `entry` as running; false when it was removed or the
    // table is closed.
    bool BeginCall(ListenerEntry& entry);
    void EndCall(ListenerEntry& entry);
    bool Closed() const;

private:
    mutable std::mutex mutex_;
    std::condition_variable callEnded_;
    std::shared_ptr<const EntryList> entries_ = std::make_shared<const EntryList>();
    bool closed_ = false;
    std::vector<Listener>* mirror_;

    void UpdateMirror();
};

// Delivers one block to every entry of `table`, in order, each with its own
// copy (the last gets `arg` itself). A listener's exception propagates and
// ends this block's delivery.
void Deliver(ListenerTable& table, Quelto_DataAvailableEventArgs&& arg);

}  // namespace Listeners
