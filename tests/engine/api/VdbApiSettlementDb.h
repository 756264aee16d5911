// The settlement database on disk, for the tests of the exported call interface and the C
// program's test: the table Irsz of SettlementWorld.h (indexes TELEP, IRSZ, MEGYE_IRSZ) in a
// directory of the operating system, filled from the settlement data set with its notes, the
// indexes rebuilt. Written with the engine's own table objects and their own page manager,
// then closed completely, so the call interface finds plain files. Test thread only.
#pragma once

#include <filesystem>
#include <string>

#include "../support/SettlementWorld.h"
#include "storage/vuOSFileSystem.h"
#include "sql/VdbSqlCompiler.h"

namespace vdb::test {

// Writes the database into `dir` (made when missing). Empty on success, else the reason.
inline std::string WriteSettlementDatabase(const std::filesystem::path& dir) {
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  if (ec) return "cannot make " + dir.string() + ": " + ec.message();
  const auto rows = ReadSettlements();
  if (rows.empty()) return "the settlement data set cannot be read";
  TVdbPageManager pageManager;
  TvuOSFileSystem fs;
  TVdbLastError lastError;
  TvuFakeClock clock;
  TvuFakeSleeper sleeper{clock};
  TvuFakeRandom random{7};
  pageManager.RegisterClient(1, 65536);
  TVdbTableEnvironment env{pageManager, fs, 1, lastError, TvuServices{clock, sleeper, random},
                           tilNone, kVdbDefaultBlockSize, &VdbSqlCompiler()};
  std::string failure;
  {
    TVdbNewTable definition = SettlementDefinition();
    definition.Path = VdbUtf8ToUtf16((dir / "Irsz").string());
    TVdbBaseTable creator(env);
    if (creator.NewTable(definition) != 0) failure = "create: " + VdbUtf16ToUtf8(lastError.Msg());
  }
  if (failure.empty()) {
    TVdbBaseTable t(env);
    t.SetRights(0x010F);
    t.SetFileName(VdbUtf8ToUtf16((dir / "Irsz.vdbt").string()));
    if (t.Open(false) != 0 || t.Setup(false) != 0) {
      failure = "open: " + VdbUtf16ToUtf8(lastError.Msg());
    } else {
      std::vector<std::uint8_t> record(static_cast<std::size_t>(t.GetRecordSize()));
      const TVdbColumnDef& note = t.ColumnDefs().GetColumnDef(cEgyeb);
      const auto* noteType = dynamic_cast<const TVdbStringType*>(note.DataType());
      for (const auto& row : rows) {
        std::fill(record.begin(), record.end(), std::uint8_t{0});
        for (int c = 0; c < cCount; ++c) {
          const std::u16string& text = row[static_cast<std::size_t>(c)];
          const TVdbColumnDef& col = t.ColumnDefs().GetColumnDef(c);
          if (c == cEgyeb) {
            const std::int32_t block =
                text.empty() ? 0 : t.MemoFile()->WriteString(0, TvuCodePage::FromUnicode(noteType->CodePage(), text));
            SetInt(t, record, c, block);
          } else if (text.empty()) {
            SetNullField(t, record, c);
          } else if (c == cTerulet) {
            TVdbDataValue v;
            col.DataType()->SetReference(v, record, static_cast<std::size_t>(col.Position()));
            col.DataType()->SetDouble(v, static_cast<double>(ToInt(text)));
          } else if (col.DataType()->IsString()) {
            SetText(t, record, c, text);
          } else {
            SetInt(t, record, c, ToInt(text));
          }
        }
        if (AppendRaw(t, record) < 0) {
          failure = "append: " + VdbUtf16ToUtf8(lastError.Msg());
          break;
        }
      }
      if (failure.empty() && t.RegenIndex() != 0) failure = "indexes: " + VdbUtf16ToUtf8(lastError.Msg());
    }
    t.Close();
  }
  pageManager.UnregisterClient(1, 65536);
  return failure;
}

}  // namespace vdb::test
