#include "ListenerTable.h"

namespace Listeners {

namespace {
// The entry whose call runs on this thread, if any: a listener that removes
// itself must not wait for its own return.
thread_local const ListenerEntry* t_running = nullptr;
}  // namespace

void ListenerTable::Add(Quelto_DataAvailableListener cb, void* context, std::shared_ptr<void> owned) {
    auto entry = std::make_shared<ListenerEntry>();
    entry->cb = cb;
    entry->context = context;
    entry->owned = std::move(owned);
    std::lock_guard lock(mutex_);
    auto next = std::make_shared<EntryList>(*entries_);
    next->push_back(std::move(entry));
    entries_ = std::move(next);
    UpdateMirror();
}

void ListenerTable::UpdateMirror() {
    if (!mirror_) return;
    mirror_->clear();
    for (const auto& e : *entries_) mirror_->push_back(Listener{e->cb, e->context});
}

bool ListenerTable::RemoveFirst(const std::function<bool(const ListenerEntry&)>& match) {
    std::unique_lock lock(mutex_);
    EntryRef found;
    auto next = std::make_shared<EntryList>();
    next->reserve(entries_->size());
    for (const auto& e : *entries_) {
        if (!found && !e->removed && match(*e)) {
            found = e;
        } else {
            next->push_back(e);
        }
    }
    if (!found) return false;
    found->removed = true;
    entries_ = std::move(next);
    UpdateMirror();
    const int own = t_running == found.get() ? 1 : 0;
    callEnded_.wait(lock, [&] { return found->activeCalls <= own; });
    return true;
}

void ListenerTable::Close() {
    std::lock_guard lock(mutex_);
    closed_ = true;
    mirror_ = nullptr;
}

bool ListenerTable::Closed() const {
    std::lock_guard lock(mutex_);
    return closed_;
}

std::shared_ptr<const EntryList> ListenerTable::Snapshot() const {
    std::lock_guard lock(mutex_);
    return entries_;
}

bool ListenerTable::BeginCall(ListenerEntry& entry) {
    std::lock_guard lock(mutex_);
    if (closed_ || entry.removed) return false;
    ++entry.activeCalls;
    return true;
}

void ListenerTable::EndCall(ListenerEntry& entry) {
    {
        std::lock_guard lock(mutex_);
        --entry.activeCalls;
    }
    callEnded_.notify_all();
}

void Deliver(ListenerTable& table, Quelto_DataAvailableEventArgs&& arg) {
    const auto snapshot = table.Snapshot();
    const std::size_t n = snapshot->size();
    for (std::size_t i = 0; i < n; ++i) {
        ListenerEntry& entry = *(*snapshot)[i];
        if (!table.BeginCall(entry)) {
            if (table.Closed()) return;
            continue;
        }
        struct CallScope {
            ListenerTable& table;
            ListenerEntry& entry;
            const ListenerEntry* outer;
            ~CallScope() {
                t_running = outer;
                table.EndCall(entry);
            }
        } scope{table, entry, t_running};
        t_running = &entry;
        if (i + 1 == n) {
            entry.cb(std::move(arg), entry.context);  // nobody reads `arg` afterwards
        } else {
            entry.cb(arg, entry.context);
        }
    }
}

}  // namespace Listeners
