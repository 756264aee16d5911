// 8-bit text of string and memo columns: bytes in the column's ANSI code page (the engine says
// which, see VdbTableGetFieldCodePage), converted to and from UTF-16. Characters the code page
// lacks become '?' (never the control character 0x1A, which memo text reads as its end).
// One object per code page and user; not shared between threads.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace vdbds {

class TVdbCodePage {
 public:
  explicit TVdbCodePage(int codePage);
  ~TVdbCodePage();
  TVdbCodePage(const TVdbCodePage&) = delete;
  TVdbCodePage& operator=(const TVdbCodePage&) = delete;

  int CodePage() const noexcept { return FCodePage; }
  std::u16string Decode(const std::uint8_t* bytes, std::size_t size) const;
  std::vector<std::uint8_t> Encode(std::u16string_view text) const;

 private:
  struct TImpl;
  int FCodePage;
  std::unique_ptr<TImpl> FImpl;
};

}  // namespace vdbds
