#include "SystemInfo.h"

#include <QFile>
#include <QHash>
#include <QStandardPaths>
#include <QStringList>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <pthread.h>
#include <sched.h>
#include <sys/utsname.h>
#include <thread>

#if defined(__x86_64__) || defined(__i386__)
#include <x86intrin.h>
#define VIDORA_HAS_CYCLE_COUNTER 1
#endif

namespace vidora {

QString FormatOperatingSystem(const QString& platform, const QString& version) {
  return platform + QStringLiteral("  (") + version + u')';
}

QString FormatProcessorType(const QString& type, const QString& revision) {
  if (revision.isEmpty()) return type;
  return type + QStringLiteral("  Rev. ") + revision;
}

QString FormatProcessorSpeed(std::optional<double> mhz, const QLocale& locale) {
  if (!mhz) return {};
  QLocale plain = locale;
  plain.setNumberOptions(QLocale::OmitGroupSeparator);
  return plain.toString(*mhz, 'f', 2) + QStringLiteral(" MHz");
}

QString FormatPhysicalMemory(std::uint64_t bytes, const QLocale& locale) {
  // Every third digit gets the separator, whatever grouping the locale prefers for short
  // numbers: the figure is read against the same figure on other machines.
  const QString digits = QString::number(bytes / 1024);
  const QString separator = locale.groupSeparator();
  QString grouped;
  for (qsizetype i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) grouped += separator;
    grouped += digits[i];
  }
  return grouped + QStringLiteral(" KB");
}

QString FormatMemoryLoad(int percent) { return QString::number(percent) + QStringLiteral(" %"); }

TSystemSummary Summarise(const TSystemFacts& facts, const QLocale& locale) {
  return {FormatOperatingSystem(facts.PlatformName, facts.Version),
          FormatProcessorType(facts.ProcessorType, facts.ProcessorRevision),
          FormatProcessorSpeed(facts.ProcessorMHz, locale), FormatPhysicalMemory(facts.PhysicalMemoryBytes, locale),
          FormatMemoryLoad(facts.MemoryLoad),
          facts.Description.isEmpty() ? FormatOperatingSystem(facts.PlatformName, facts.Version) : facts.Description};
}

namespace sysinfo {

namespace {

// "key : value" pairs of the first block (up to the first empty line) of a /proc file, or of
// every line of a "KEY=value" file.
QHash<QString, QString> Pairs(const QString& text, QChar separator, bool firstBlockOnly) {
  QHash<QString, QString> pairs;
  for (const QString& line : text.split(u'\n')) {
    if (line.trimmed().isEmpty()) {
      if (firstBlockOnly && !pairs.isEmpty()) break;
      continue;
    }
    const qsizetype at = line.indexOf(separator);
    if (at < 0) continue;
    const QString key = line.left(at).trimmed();
    if (!pairs.contains(key)) pairs.insert(key, line.mid(at + 1).trimmed());
  }
  return pairs;
}

// A decimal or "0x" hexadecimal number as decimal text; empty when it is neither.
QString Decimal(const QString& value) {
  bool ok = false;
  const qulonglong n = value.toULongLong(&ok, 0);
  return ok ? QString::number(n) : QString();
}

QString ReadFile(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) return {};
  return QString::fromUtf8(file.readAll());
}

}  // namespace

QString OsReleaseField(const QString& osRelease, const QString& key) {
  QString name = Pairs(osRelease, u'=', false).value(key);
  if (name.size() >= 2 && (name.front() == u'"' || name.front() == u'\'') && name.back() == name.front())
    name = name.mid(1, name.size() - 2);
  return name.trimmed();
}

QString KernelVersion(const QString& release) {
  QStringList numbers;
  for (const QString& part : release.section(u'-', 0, 0).split(u'.')) {
    qsizetype digits = 0;
    while (digits < part.size() && part[digits].isDigit()) ++digits;
    if (digits == 0) break;
    numbers << part.left(digits);
    if (digits < part.size() || numbers.size() == 3) break;
  }
  return numbers.join(u'.');
}

TProcessorId ProcessorId(const QString& cpuinfo, const QString& machine) {
  const QHash<QString, QString> cpu = Pairs(cpuinfo, u':', true);
  if (cpu.contains(QStringLiteral("cpu family")) && cpu.contains(QStringLiteral("model")))
    return {Decimal(cpu.value(QStringLiteral("cpu family"))) + u'/' + Decimal(cpu.value(QStringLiteral("model"))),
            Decimal(cpu.value(QStringLiteral("stepping")))};
  if (cpu.contains(QStringLiteral("CPU implementer")) && cpu.contains(QStringLiteral("CPU part")))
    return {Decimal(cpu.value(QStringLiteral("CPU implementer"))) + u'/' +
                Decimal(cpu.value(QStringLiteral("CPU part"))),
            Decimal(cpu.value(QStringLiteral("CPU revision")))};
  // Elsewhere the machine name, with the revision where the system gives one ("2.2 (pvr …)").
  return {machine, cpu.value(QStringLiteral("revision")).section(u' ', 0, 0)};
}

std::optional<double> CpuInfoMHz(const QString& cpuinfo) {
  bool ok = false;
  const double mhz = Pairs(cpuinfo, u':', true).value(QStringLiteral("cpu MHz")).toDouble(&ok);
  if (!ok || !(mhz > 0)) return std::nullopt;
  return mhz;
}

std::optional<TMemoryState> MemoryState(const QString& meminfo) {
  const QHash<QString, QString> pairs = Pairs(meminfo, u':', false);
  const auto kilobytes = [&](const char* key) -> std::optional<std::uint64_t> {
    const QString value = pairs.value(QLatin1String(key)).section(u' ', 0, 0);
    bool ok = false;
    const qulonglong n = value.toULongLong(&ok);
    if (!ok) return std::nullopt;
    return n;
  };
  const std::optional<std::uint64_t> total = kilobytes("MemTotal");
  if (!total || *total == 0) return std::nullopt;
  std::optional<std::uint64_t> available = kilobytes("MemAvailable");
  if (!available) available = kilobytes("MemFree").value_or(0) + kilobytes("Buffers").value_or(0) +
                              kilobytes("Cached").value_or(0);
  const std::uint64_t used = *total - std::min(*available, *total);
  return TMemoryState{*total * 1024, int(std::lround(100.0 * double(used) / double(*total)))};
}

}  // namespace sysinfo

namespace {

// Real-time priority for the calling thread while it lives, where the system grants it; without
// the right the measurement runs at normal priority.
class TRaisedPriority {
 public:
  TRaisedPriority() {
    if (pthread_getschedparam(pthread_self(), &FPolicy, &FParam) != 0) return;
    sched_param realTime{};
    realTime.sched_priority = sched_get_priority_max(SCHED_FIFO);
    FRaised = pthread_setschedparam(pthread_self(), SCHED_FIFO, &realTime) == 0;
  }
  ~TRaisedPriority() {
    if (FRaised) pthread_setschedparam(pthread_self(), FPolicy, &FParam);
  }
  TRaisedPriority(const TRaisedPriority&) = delete;
  TRaisedPriority& operator=(const TRaisedPriority&) = delete;

 private:
  int FPolicy = SCHED_OTHER;
  sched_param FParam{};
  bool FRaised = false;
};

// Counts the processor's cycles over half a second. The elapsed time is measured too, since
// the sleep may last longer than asked.
std::optional<double> MeasuredMHz() {
#ifdef VIDORA_HAS_CYCLE_COUNTER
  using namespace std::chrono;
  const TRaisedPriority raised;
  std::this_thread::sleep_for(10ms);
  const auto start = steady_clock::now();
  const unsigned long long startCycles = __rdtsc();
  std::this_thread::sleep_for(500ms);
  const unsigned long long endCycles = __rdtsc();
  const auto end = steady_clock::now();
  const double microseconds = duration<double, std::micro>(end - start).count();
  if (endCycles <= startCycles || microseconds <= 0) return std::nullopt;
  return double(endCycles - startCycles) / microseconds;
#else
  return std::nullopt;
#endif
}

}  // namespace

TSystemFacts TLinuxSystemInfo::Facts() {
  TSystemFacts facts;
  utsname names{};
  const bool haveNames = uname(&names) == 0;
  const QString sysname = haveNames ? QString::fromLocal8Bit(names.sysname) : QStringLiteral("Linux");
  const QString machine = haveNames ? QString::fromLocal8Bit(names.machine) : QString();

  // The window's column has room for the kernel's name and version; the distribution's longer
  // name goes into the description.
  facts.PlatformName = sysname;
  facts.Version = haveNames ? sysinfo::KernelVersion(QString::fromLocal8Bit(names.release)) : QString();
  QString osRelease = sysinfo::ReadFile(QStringLiteral("/etc/os-release"));
  if (osRelease.isEmpty()) osRelease = sysinfo::ReadFile(QStringLiteral("/usr/lib/os-release"));
  QString distribution = sysinfo::OsReleaseField(osRelease, QStringLiteral("PRETTY_NAME"));
  if (distribution.isEmpty()) distribution = sysinfo::OsReleaseField(osRelease, QStringLiteral("NAME"));
  if (distribution.isEmpty()) distribution = sysname;
  facts.Description =
      haveNames ? distribution + QStringLiteral(", ") + sysname + u' ' + QString::fromLocal8Bit(names.release) : distribution;

  const QString cpuinfo = sysinfo::ReadFile(QStringLiteral("/proc/cpuinfo"));
  const sysinfo::TProcessorId processor = sysinfo::ProcessorId(cpuinfo, machine);
  facts.ProcessorType = processor.Type;
  facts.ProcessorRevision = processor.Revision;
  facts.ProcessorMHz = MeasuredMHz();
  if (!facts.ProcessorMHz) facts.ProcessorMHz = sysinfo::CpuInfoMHz(cpuinfo);

  if (const auto memory = sysinfo::MemoryState(sysinfo::ReadFile(QStringLiteral("/proc/meminfo")))) {
    facts.PhysicalMemoryBytes = memory->TotalBytes;
    facts.MemoryLoad = memory->Load;
  }
  return facts;
}

QString TLinuxSystemInfo::InformationProgram() {
  for (const char* name : sysinfo::InformationPrograms) {
    const QString path = QStandardPaths::findExecutable(QLatin1String(name));
    if (!path.isEmpty()) return path;
  }
  return {};
}

}  // namespace vidora
