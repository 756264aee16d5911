// Collations of string types: the built-in collation (hand-written from its fold table) and
// named collations resolved to a locale of the collation library.
//
// A collation name is resolved once into a shared, immutable TVdbCollation (locale id, code
// page and comparison options). Named collations compare through collators that are cached per
// (locale, options) for the life of the process.
//
// Threads: every function and every TVdbCollation may be used from any thread; the name cache
// and the collator cache have their own locks, and collators are only used through const calls.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>

namespace vdb {

// Comparison option bits (TStrCmpOptions).
using TStrCmpOptions = std::uint8_t;
inline constexpr TStrCmpOptions scoCaseSensitive = 1;
inline constexpr TStrCmpOptions scoLigatureSensitive = 2;
inline constexpr TStrCmpOptions scoAccentSensitive = 4;

// Locale id that marks the built-in collation.
inline constexpr std::uint32_t VDB_BUILTIN_LOCALE_ID = 512;
// Code page of 8-bit text under the built-in collation.
inline constexpr std::uint16_t VDB_BUILTIN_CODE_PAGE = 1252;

class TVdbCollation {
 public:
  // Resolves a collation name: "" or "VidoraDB" is the built-in collation (ligature- and
  // accent-sensitive); any other name is an English language name (matched case-insensitively)
  // followed by optional _CS/_CI and then _AS/_AI suffixes (default: case-insensitive,
  // accent-sensitive). Raises EVdbEngine 138 "Collation \"%s\" does not exist" for an unknown
  // name. The returned object lives until the process ends.
  static const TVdbCollation& Resolve(std::u16string_view name);
  static const TVdbCollation& BuiltIn();

  // The name as given when it was first resolved (case preserved).
  const std::u16string& Name() const noexcept { return FName; }
  bool IsBuiltIn() const noexcept { return FLocaleId == VDB_BUILTIN_LOCALE_ID; }
  // Windows-style locale id (Hungarian 0x040E), VDB_BUILTIN_LOCALE_ID for the built-in one.
  std::uint32_t LocaleId() const noexcept { return FLocaleId; }
  // Locale name of the collation library ("hu"); empty for the built-in collation.
  const std::string& IcuLocale() const noexcept { return FIcuLocale; }
  TStrCmpOptions Options() const noexcept { return FOptions; }
  // Code page of 8-bit column text under this collation (Hungarian: 1250).
  std::uint16_t CodePage() const noexcept { return FCodePage; }

  // Three-way comparisons (<0, 0, >0) under this collation with AExtra OR-ed into the
  // collation's options. 8-bit text is in CodePage(). A text whose last character is NUL
  // compares as the NUL-terminated text inside it.
  int CompareAnsi(std::string_view a, std::string_view b, TStrCmpOptions extra = 0) const;
  int CompareWide(std::u16string_view a, std::u16string_view b, TStrCmpOptions extra = 0) const;

  // Version of the collation library's rules for this locale ("" for the built-in collation,
  // whose order never changes). Index files keyed under a named collation must be rebuilt when
  // it differs from the version recorded when they were built.
  std::string CollatorVersion() const;

  // Case mapping under the collation's locale.
  std::u16string ToUpper(std::u16string_view s) const;
  std::u16string ToLower(std::u16string_view s) const;

  TVdbCollation(std::u16string name, std::uint32_t localeId, std::string icuLocale,
                TStrCmpOptions options, std::uint16_t codePage);

 private:
  std::u16string FName;
  std::uint32_t FLocaleId;
  std::string FIcuLocale;
  TStrCmpOptions FOptions;
  std::uint16_t FCodePage;
  // Collators by (case-sensitive, accent-sensitive), filled on first use; they live in the
  // process-wide collator cache.
  mutable std::atomic<const void*> FCollators[4] = {};

  // UTF-16 of every byte of a single-byte code page (null for other code pages), looked up
  // on first use: comparisons widen 8-bit text through it instead of the converter.
  mutable std::atomic<const char16_t*> FByteTable = nullptr;
  mutable std::atomic<bool> FByteTableKnown = false;

  const void* CollatorFor(TStrCmpOptions options) const;
  const char16_t* ByteTable() const;
};

// The built-in collation's comparisons with explicit options (exposed for tests and for
// callers that hold only option bits).
int VdbBuiltInCompareAnsi(std::string_view a, std::string_view b, TStrCmpOptions options);
int VdbBuiltInCompareWide(std::u16string_view a, std::u16string_view b, TStrCmpOptions options);

// Code page of 8-bit text for an ISO 639 language code ("hu" → 1250); 1252 when unlisted.
std::uint16_t VdbCodePageOfLanguage(std::string_view language);

}  // namespace vdb
