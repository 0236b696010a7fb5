// Fuzz target: a table loaded from arbitrary bytes. A packet that loads must walk, edit,
// save and load again; one that does not must leave the table empty. Any crash, leak or
// sanitizer report is a finding.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "table/cursor.h"
#include "table/dsbase.h"

using zelvo::DBResult;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto table = zelvo::Ref<zelvo::DSBASE>::Adopt(zelvo::NewTable());
  if (table->LoadPacket(data, size, true) != DBResult::kOk) {
    if (table->defined()) std::abort();  // a failed load must leave the table empty
    return 0;
  }
  auto cursor = zelvo::Ref<zelvo::DSCursor>::Adopt(zelvo::NewCursor());
  if (cursor->AttachToTable(table.get()) != DBResult::kOk) std::abort();
  std::vector<std::uint8_t> record(cursor->record_size());
  std::uint32_t count = 0;
  (void)cursor->CountRecords(&count);
  std::uint32_t walked = 0;
  (void)cursor->GoBeforeFirst();
  while (cursor->StepBy(1) == DBResult::kOk && walked < 100000) {
    ++walked;
    (void)cursor->ReadCurrent(record.data());
  }
  if (walked < 100000 && walked != count) std::abort();
  // An edit of the first record, then a save that must load back.
  if (cursor->GoToNumber(1) == DBResult::kOk) {
    (void)cursor->ReadCurrent(record.data());
    (void)cursor->UpdateCurrent(record.data());
    (void)cursor->RemoveCurrent();
    std::uint64_t changes = 0;
    (void)table->ReadTableOption(zelvo::kOptChangeCount, &changes);
    (void)cursor->UndoNewestChange(true);
  }
  zelvo::PacketBytes saved;
  if (table->WritePacket(&saved) != DBResult::kOk) std::abort();
  auto again = zelvo::Ref<zelvo::DSBASE>::Adopt(zelvo::NewTable());
  if (again->LoadPacket(saved.data(), saved.size(), true) != DBResult::kOk) std::abort();
  return 0;
}
