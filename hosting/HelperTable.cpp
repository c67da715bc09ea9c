// The table's description, the helper entry's argument, and the checks made
// once the helper's entry has returned, before any device is made.
#include "ManagedInterop.h"
#include "ManagedRuntime.h"

#include <cinttypes>
#include <cstdio>

namespace Hosting::Managed {

namespace {

// A block's fields for the helper, from the one list.
#define QUELTO_DESCRIBE_ARRAY(name, element, rank, view) {u"" #name, ArrayField},
#define QUELTO_DESCRIBE_NUMBER(name, type) {u"" #name, NumberField},
#define QUELTO_DESCRIBE_FLAG(name) {u"" #name, FlagField},
const BlockFieldDescription g_blockFields[] = {QUELTO_BLOCK_FIELDS(
    QUELTO_DESCRIBE_ARRAY, QUELTO_DESCRIBE_NUMBER, QUELTO_DESCRIBE_FLAG, QUELTO_BLOCK_SKIP)};
#undef QUELTO_DESCRIBE_ARRAY
#undef QUELTO_DESCRIBE_NUMBER
#undef QUELTO_DESCRIBE_FLAG
static_assert(sizeof g_blockFields / sizeof g_blockFields[0] == BlockNumberCount + BlockArrayCount);

std::string Describe(uint32_t version, uint32_t operations, uint32_t bytes) {
    return "table version " + std::to_string(version) + " with " + std::to_string(operations) + " operations (" +
           std::to_string(bytes) + " bytes)";
}

std::string Helper(const std::string& path) {
    return std::string("the bridge's helper assembly ") + HelperAssemblyFile + " ('" + path + "')";
}

}  // namespace

void DescribeTable(HelperTable& table) {
    table.Size = sizeof(HelperTable);
    table.Version = HelperTableVersion;
    table.OperationCount = HelperOperationCount;
    table.blockFields = g_blockFields;
    table.blockFieldCount = static_cast<intptr_t>(sizeof g_blockFields / sizeof g_blockFields[0]);
}

std::string HelperEntryArgument(const HelperTable& table) {
    char text[96];
    std::snprintf(text, sizeof text, "%" PRIxPTR " %" PRIu32 " %" PRIu32 " %" PRIu32,
                  reinterpret_cast<uintptr_t>(&table), table.Size, table.Version, table.OperationCount);
    return text;
}

std::string HelperNotLoaded(const std::string& helperPath) {
    return Helper(helperPath) + " could not be loaded or has no entry; this bridge needs a helper of table version " +
           std::to_string(HelperTableVersion);
}

bool CheckHelperTable(const HelperTable& table, const std::string& helperPath, int32_t entryResult,
                      std::string& error) {
    const std::string ours = "this bridge needs " + Describe(table.Version, table.OperationCount, table.Size);
    if (table.HelperVersion == 0) {
        // A helper that reads this argument always describes itself first.
        error = Helper(helperPath) + " did not describe its table (its entry returned " +
                std::to_string(entryResult) + "): it predates table version " + std::to_string(HelperTableVersion) +
                ", whose helpers do; " + ours + ". Install the helper that came with this bridge.";
        return false;
    }
    if (table.HelperVersion != table.Version || table.HelperOperationCount != table.OperationCount ||
        table.HelperSize != table.Size) {
        error = Helper(helperPath) + " has " +
                Describe(table.HelperVersion, table.HelperOperationCount, table.HelperSize) +
                (entryResult != 0 ? " and refused this bridge's table" : "") + "; " + ours +
                ". Install the helper that came with this bridge.";
        return false;
    }
    if (entryResult != 0) {
        error = Helper(helperPath) + ", " + Describe(table.HelperVersion, table.HelperOperationCount, table.HelperSize) +
                ", failed in its entry (result " + std::to_string(entryResult) + ")";
        return false;
    }
    const void* const slots[] = {
#define QUELTO_OPERATION_ADDRESS(Name) reinterpret_cast<const void*>(table.Name.fn),
        QUELTO_HELPER_OPERATIONS(QUELTO_OPERATION_ADDRESS)
#undef QUELTO_OPERATION_ADDRESS
    };
    for (uint32_t k = 0; k < HelperOperationCount; ++k) {
        if (slots[k]) continue;
        error = Helper(helperPath) + ", " + Describe(table.HelperVersion, table.HelperOperationCount, table.HelperSize) +
                ", left operation " + std::to_string(k + 1) + " of " + std::to_string(HelperOperationCount) + " (" +
                HelperOperationNames[k] + ") empty; " + ours + ". The helper is damaged: install the one that came "
                "with this bridge.";
        return false;
    }
    return true;
}

}  // namespace Hosting::Managed
