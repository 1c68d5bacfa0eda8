// 8-bit text: bytes with the code page they are written in, and the process's system ANSI code
// page that code page 0 stands for.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

namespace zf::rtl {

// Code-page numbers with a meaning of their own.
inline constexpr uint16_t CP_ACP = 0;          // the system ANSI code page
inline constexpr uint16_t CP_THREAD_ACP = 3;   // the calling thread's ANSI code page (threads share the system's)
inline constexpr uint16_t CP_UTF7 = 65000;
inline constexpr uint16_t CP_UTF8 = 65001;
inline constexpr uint16_t CP_RAWBYTES = 65535;  // bytes that carry no code page of their own

// The process-wide system ANSI code page, windows-1252 unless changed. Reading and setting are
// atomic; it is meant to be set once at start-up (the locale layer checks the value it is given).
uint16_t SystemAnsiCodePage();
void SetSystemAnsiCodePage(uint16_t aCodePage);

// Bytes of 8-bit text and the code page they are in (0 = the system ANSI code page).
class AnsiString {
 public:
  AnsiString() = default;
  explicit AnsiString(std::string aBytes, uint16_t aCodePage = CP_ACP)
      : FBytes(std::move(aBytes)), FCodePage(aCodePage) {}

  const std::string& Bytes() const noexcept { return FBytes; }
  std::string& Bytes() noexcept { return FBytes; }
  std::string_view View() const noexcept { return FBytes; }
  uint16_t CodePage() const noexcept { return FCodePage; }
  void SetCodePage(uint16_t aCodePage) noexcept { FCodePage = aCodePage; }
  size_t Length() const noexcept { return FBytes.size(); }
  bool IsEmpty() const noexcept { return FBytes.empty(); }

  // Same bytes; the code page is a label, not part of the text.
  friend bool operator==(const AnsiString& a, const AnsiString& b) noexcept { return a.FBytes == b.FBytes; }

 private:
  std::string FBytes;
  uint16_t FCodePage = CP_ACP;
};

}  // namespace zf::rtl
