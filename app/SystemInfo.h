// The computer as the about window summarises it: operating system, processor type and speed,
// physical memory and memory load, and whether a system-information program is installed.
// The facts come from a source that tests replace; the texts follow the window's formats.
// GUI thread only (measuring the processor speed blocks the caller for about half a second).
#pragma once

#include <QLocale>
#include <QString>
#include <cstdint>
#include <optional>

namespace vidora {

struct TSystemFacts {
  QString PlatformName;       // the kernel's name ("Linux")
  QString Version;            // kernel version as major.minor.patch ("6.1.0")
  QString Description;        // the distribution's own long name and the full kernel release
  QString ProcessorType;      // x86: family/model; ARM: implementer/part; else the machine name
  QString ProcessorRevision;  // x86: stepping; ARM: revision; empty when unknown
  std::optional<double> ProcessorMHz;
  std::uint64_t PhysicalMemoryBytes = 0;
  int MemoryLoad = 0;  // per cent of physical memory in use
};

class ISystemInfo {
 public:
  virtual ~ISystemInfo() = default;
  // Gathers the facts afresh; the processor speed may be measured, which takes about 500 ms.
  virtual TSystemFacts Facts() = 0;
  // Full path of an installed system-information program, empty when there is none.
  virtual QString InformationProgram() = 0;
};

// The five texts of the about window's summary.
struct TSystemSummary {
  QString OperatingSystem;
  QString ProcessorType;
  QString ProcessorSpeed;
  QString PhysicalMemory;
  QString MemoryLoad;
  QString OperatingSystemDescription;  // the long form, for a tip: the line may be cut in the window
};

// "<platform>  (<version>)": two blanks before the parenthesis.
QString FormatOperatingSystem(const QString& platform, const QString& version);
// "<type>  Rev. <revision>"; the type alone when the revision is unknown.
QString FormatProcessorType(const QString& type, const QString& revision);
// "2893.21 MHz" with the locale's decimal separator and no grouping; empty when unknown.
QString FormatProcessorSpeed(std::optional<double> mhz, const QLocale& locale);
// Kilobytes grouped by three digits with the locale's thousands separator: "8,388,608 KB".
QString FormatPhysicalMemory(std::uint64_t bytes, const QLocale& locale);
// "42 %".
QString FormatMemoryLoad(int percent);

TSystemSummary Summarise(const TSystemFacts& facts, const QLocale& locale);

// Readers of the Linux system files, separate so that samples from other machines can be checked.
namespace sysinfo {

// A field of /etc/os-release ("PRETTY_NAME", "NAME") with its quotes removed, empty when missing.
QString OsReleaseField(const QString& osRelease, const QString& key);
// The leading numeric part of a kernel release: "6.1.0-18-amd64" gives "6.1.0".
QString KernelVersion(const QString& release);

struct TProcessorId {
  QString Type;
  QString Revision;
};
// From the first processor of /proc/cpuinfo; `machine` is the kernel's machine name (uname -m).
TProcessorId ProcessorId(const QString& cpuinfo, const QString& machine);
// The "cpu MHz" figure of the first processor, if any.
std::optional<double> CpuInfoMHz(const QString& cpuinfo);

struct TMemoryState {
  std::uint64_t TotalBytes = 0;
  int Load = 0;
};
// MemTotal and the share not available (MemAvailable; on kernels without it, free + buffers +
// page cache); nullopt without MemTotal.
std::optional<TMemoryState> MemoryState(const QString& meminfo);

// Programs that show a summary of the computer, looked up on PATH in this order.
inline constexpr const char* InformationPrograms[] = {"kinfocenter", "hardinfo2", "hardinfo", "cpu-x", "lshw-gtk"};

}  // namespace sysinfo

// The facts of this Linux machine: os-release, uname, /proc/cpuinfo, /proc/meminfo, and the
// processor's time-stamp counter where it has one.
class TLinuxSystemInfo : public ISystemInfo {
 public:
  TSystemFacts Facts() override;
  QString InformationProgram() override;
};

}  // namespace vidora
