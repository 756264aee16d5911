// The about window and its picture window: the summary's formats over given system facts, the
// readers of the Linux system files, the window's texts and looks, its clickable labels and
// buttons through the shell, and the summary of this very machine.
#include <QFile>
#include <QFrame>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include "QtTestSupport.h"
#include "RecordingShell.h"
#include "SettlementTables.h"
#include "SystemInfo.h"
#include "Unit7.h"
#include "Unit8.h"
#include "UrlCatcher.h"
#include "Vidora.h"

namespace {

using vidora::FormatMemoryLoad;
using vidora::FormatOperatingSystem;
using vidora::FormatPhysicalMemory;
using vidora::FormatProcessorSpeed;
using vidora::FormatProcessorType;

const QLocale English(QLocale::English, QLocale::UnitedStates);
const QLocale Hungarian(QLocale::Hungarian, QLocale::Hungary);
const QLocale German(QLocale::German, QLocale::Germany);
constexpr std::uint64_t GiB = 1024ull * 1024 * 1024;

TEST(SystemSummaryFormatTest, PhysicalMemoryIsKilobytesGroupedByTheLocale) {
  const QString nbsp(QChar(0x00A0));
  const struct {
    std::uint64_t Bytes;
    const QLocale& Locale;
    QString Expected;
  } cases[] = {
      {8 * GiB, English, QStringLiteral("8,388,608 KB")},
      // Hungarian groups with a no-break space, which keeps the figure on one line.
      {8 * GiB, Hungarian, QStringLiteral("8\u00A0388\u00A0608 KB")},
      {8 * GiB, German, QStringLiteral("8.388.608 KB")},
      {1024 * 1024, English, QStringLiteral("1,024 KB")},
      {1024 * 1024, Hungarian, QStringLiteral("1\u00A0024 KB")},
      {512 * 1024, English, QStringLiteral("512 KB")},
      {1023, English, QStringLiteral("0 KB")},
      {16384 * GiB, English, QStringLiteral("17,179,869,184 KB")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Locale.name().toStdString() + " " + std::to_string(c.Bytes));
    EXPECT_EQ(FormatPhysicalMemory(c.Bytes, c.Locale), c.Expected);
  }
  // Read with the eye, the Hungarian figure is the one with blanks.
  EXPECT_EQ(FormatPhysicalMemory(8 * GiB, Hungarian).replace(nbsp, QStringLiteral(" ")),
            QStringLiteral("8 388 608 KB"));
}

TEST(SystemSummaryFormatTest, LoadTypeSpeedAndSystemLines) {
  EXPECT_EQ(FormatMemoryLoad(42), QStringLiteral("42 %"));
  EXPECT_EQ(FormatMemoryLoad(0), QStringLiteral("0 %"));
  EXPECT_EQ(FormatMemoryLoad(100), QStringLiteral("100 %"));

  EXPECT_EQ(FormatProcessorType(QStringLiteral("6/158"), QStringLiteral("10")), QStringLiteral("6/158  Rev. 10"));
  EXPECT_EQ(FormatProcessorType(QStringLiteral("riscv64"), QString()), QStringLiteral("riscv64"));

  EXPECT_EQ(FormatProcessorSpeed(2893.214, English), QStringLiteral("2893.21 MHz"));
  EXPECT_EQ(FormatProcessorSpeed(2893.216, Hungarian), QStringLiteral("2893,22 MHz"));
  EXPECT_EQ(FormatProcessorSpeed(800, English), QStringLiteral("800.00 MHz"));
  EXPECT_EQ(FormatProcessorSpeed(std::nullopt, English), QString());

  const QString os = FormatOperatingSystem(QStringLiteral("Debian GNU/Linux"), QStringLiteral("6.1.0"));
  EXPECT_EQ(os, QStringLiteral("Debian GNU/Linux  (6.1.0)"));
  EXPECT_TRUE(QRegularExpression(QStringLiteral("^\\S.*\\S  \\(\\d+\\.\\d+\\.\\d+\\)$")).match(os).hasMatch());
}

TEST(SystemFilesTest, ProcessorIdentityFromCpuInfo) {
  const QString x86 = QStringLiteral(
      "processor\t: 0\nvendor_id\t: GenuineIntel\ncpu family\t: 6\nmodel\t\t: 158\n"
      "model name\t: Intel(R) Core(TM) i7-8700 CPU @ 3.20GHz\nstepping\t: 10\ncpu MHz\t\t: 3192.000\n\n"
      "processor\t: 1\ncpu family\t: 7\nmodel\t\t: 1\nstepping\t: 2\ncpu MHz\t\t: 800.000\n");
  const QString arm = QStringLiteral(
      "processor\t: 0\nBogoMIPS\t: 108.00\nFeatures\t: fp asimd evtstrm crc32 cpuid\n"
      "CPU implementer\t: 0x41\nCPU architecture: 8\nCPU variant\t: 0x0\nCPU part\t: 0xd08\nCPU revision\t: 3\n\n"
      "processor\t: 1\nCPU implementer\t: 0x41\nCPU part\t: 0xd03\nCPU revision\t: 4\n");
  const QString power = QStringLiteral(
      "processor\t: 0\ncpu\t\t: POWER9 (architected), altivec supported\nclock\t\t: 2200.000000MHz\n"
      "revision\t: 2.2 (pvr 004e 1202)\n\ntimebase\t: 512000000\nplatform\t: pSeries\n");
  const struct {
    const QString& CpuInfo;
    QString Type, Revision;
  } cases[] = {
      {x86, QStringLiteral("6/158"), QStringLiteral("10")},
      {arm, QStringLiteral("65/3336"), QStringLiteral("3")},
      {power, QStringLiteral("ppc64le"), QStringLiteral("2.2")},
      {QString(), QStringLiteral("ppc64le"), QString()},
  };
  for (const auto& c : cases) {
    const vidora::sysinfo::TProcessorId id = vidora::sysinfo::ProcessorId(c.CpuInfo, QStringLiteral("ppc64le"));
    EXPECT_EQ(id.Type, c.Type);
    EXPECT_EQ(id.Revision, c.Revision);
  }
  EXPECT_EQ(vidora::sysinfo::CpuInfoMHz(x86), 3192.0);
  EXPECT_EQ(vidora::sysinfo::CpuInfoMHz(arm), std::nullopt);
}

TEST(SystemFilesTest, MemoryStateFromMemInfo) {
  const auto modern = vidora::sysinfo::MemoryState(QStringLiteral(
      "MemTotal:       8388608 kB\nMemFree:         1000000 kB\nMemAvailable:    4865393 kB\n"
      "Buffers:          100000 kB\nCached:          2000000 kB\n"));
  ASSERT_TRUE(modern);
  EXPECT_EQ(modern->TotalBytes, 8 * GiB);
  EXPECT_EQ(modern->Load, 42);  // 58 % available

  // Kernels before MemAvailable: free memory, buffers and page cache count as available.
  const auto old = vidora::sysinfo::MemoryState(QStringLiteral(
      "MemTotal:        1000000 kB\nMemFree:          100000 kB\nBuffers:          50000 kB\nCached:          100000 kB\n"));
  ASSERT_TRUE(old);
  EXPECT_EQ(old->Load, 75);

  EXPECT_FALSE(vidora::sysinfo::MemoryState(QStringLiteral("MemFree: 100 kB\n")));
  EXPECT_FALSE(vidora::sysinfo::MemoryState(QString()));
}

TEST(SystemFilesTest, SystemNameAndKernelVersion) {
  const QString debian = QStringLiteral(
      "PRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\nNAME=\"Debian GNU/Linux\"\nVERSION_ID=\"12\"\n");
  EXPECT_EQ(vidora::sysinfo::OsReleaseField(debian, QStringLiteral("PRETTY_NAME")),
            QStringLiteral("Debian GNU/Linux 12 (bookworm)"));
  EXPECT_EQ(vidora::sysinfo::OsReleaseField(debian, QStringLiteral("NAME")), QStringLiteral("Debian GNU/Linux"));
  EXPECT_EQ(vidora::sysinfo::OsReleaseField(QStringLiteral("NAME=Fedora\nID=fedora\n"), QStringLiteral("NAME")),
            QStringLiteral("Fedora"));
  EXPECT_EQ(vidora::sysinfo::OsReleaseField(QStringLiteral("NAME='Arch Linux'\n"), QStringLiteral("NAME")),
            QStringLiteral("Arch Linux"));
  EXPECT_EQ(vidora::sysinfo::OsReleaseField(QStringLiteral("ID=x\n"), QStringLiteral("NAME")), QString());

  const struct {
    const char* Release;
    const char* Version;
  } cases[] = {
      {"6.1.0-18-amd64", "6.1.0"},
      {"5.15.153.1-microsoft-standard-WSL2", "5.15.153"},
      {"6.18.44-fc-v1523", "6.18.44"},
      {"4.19.0+", "4.19.0"},
      {"6.8", "6.8"},
      {"6.9.3-arch1-1", "6.9.3"},
      {"", ""},
  };
  for (const auto& c : cases)
    EXPECT_EQ(vidora::sysinfo::KernelVersion(QLatin1String(c.Release)), QLatin1String(c.Version)) << c.Release;
}

// Facts as a test gives them, and a system-information program or none.
class TFixedSystemInfo : public vidora::ISystemInfo {
 public:
  vidora::TSystemFacts Facts() override {
    ++Calls;
    return Given;
  }
  QString InformationProgram() override { return Program; }

  vidora::TSystemFacts Given{.PlatformName = QStringLiteral("Linux"),
                             .Version = QStringLiteral("6.1.0"),
                             .Description = QStringLiteral("Debian GNU/Linux 12 (bookworm), Linux 6.1.0-18-amd64"),
                             .ProcessorType = QStringLiteral("6/158"),
                             .ProcessorRevision = QStringLiteral("10"),
                             .ProcessorMHz = 3192.004,
                             .PhysicalMemoryBytes = 8 * GiB,
                             .MemoryLoad = 42};
  QString Program;
  int Calls = 0;
};

class AboutWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    QLocale::setDefault(Hungarian);
    App.CreateInstances();
    Form().SetSystemInfo(Info);
  }
  void TearDown() override { QLocale::setDefault(PreviousLocale); }

  vidora::TForm7& Form() { return *App.Form7(); }
  template <class T = QLabel>
  T* Child(const char* name) {
    T* child = Form().findChild<T*>(QLatin1String(name));
    EXPECT_NE(child, nullptr) << name;
    return child;
  }

  QLocale PreviousLocale;
  testsupport::TTempWorkingDir WorkingDir;
  apptest::TEmptySettlementTables Tables;
  apptest::TRecordingShell Shell;
  vidora::TVidora App{Shell};
  TFixedSystemInfo Info;
};

TEST_F(AboutWindowTest, ShowingFillsTheSummaryAfreshInTheWindowsFormats) {
  ASSERT_TRUE(testsupport::WhileShownModally(Form(), [&] {
    EXPECT_EQ(Form().Label13()->text(), QStringLiteral("Linux  (6.1.0)"));
    // The line has room for the kernel only; the distribution is named in the tip.
    EXPECT_EQ(Form().Label13()->toolTip(), QStringLiteral("Debian GNU/Linux 12 (bookworm), Linux 6.1.0-18-amd64"));
    EXPECT_EQ(Form().Label14()->text(), QStringLiteral("6/158  Rev. 10"));
    EXPECT_EQ(Form().Label15()->text(), QStringLiteral("3192,00 MHz"));
    EXPECT_EQ(Form().Label16()->text(), QStringLiteral("8\u00A0388\u00A0608 KB"));
    EXPECT_EQ(Form().Label17()->text(), QStringLiteral("42 %"));
  }));
  EXPECT_EQ(Info.Calls, 1);

  Info.Given.MemoryLoad = 57;
  Info.Given.PhysicalMemoryBytes = 4 * GiB;
  ASSERT_TRUE(testsupport::WhileShownModally(Form(), [&] {
    EXPECT_EQ(Form().Label16()->text(), QStringLiteral("4\u00A0194\u00A0304 KB"));
    EXPECT_EQ(Form().Label17()->text(), QStringLiteral("57 %"));
  }));
  EXPECT_EQ(Info.Calls, 2);
}

TEST_F(AboutWindowTest, TextsFontsColoursHintsAndCursors) {
  Form().ensurePolished();
  for (QWidget* w : Form().findChildren<QWidget*>()) w->ensurePolished();

  const struct {
    const char* Name;
    int Width, Height;
  } panels[] = {{"Panel1", 281, 177}, {"Panel2", 281, 41}, {"Panel3", 281, 93}};
  int previousBottom = 0;
  for (const auto& p : panels) {
    auto* panel = Child<QFrame>(p.Name);
    ASSERT_NE(panel, nullptr);
    EXPECT_EQ(panel->size(), QSize(p.Width, p.Height)) << p.Name;
    EXPECT_GT(panel->y(), previousBottom) << "panels stand from top to bottom";
    previousBottom = panel->geometry().bottom();
  }

  QLabel* title = Child("Label1");
  EXPECT_EQ(title->text(), QStringLiteral("Vidora"));
  EXPECT_EQ(title->font().pointSize(), 14);
  EXPECT_TRUE(title->font().bold());
  EXPECT_EQ(title->palette().color(QPalette::WindowText), QColor(Qt::blue));
  EXPECT_TRUE(title->alignment() & Qt::AlignHCenter);
  QLabel* version = Child("Label2");
  EXPECT_EQ(version->text(), QStringLiteral("V2.0.0.0"));
  EXPECT_TRUE(version->font().bold());
  EXPECT_EQ(version->palette().color(QPalette::WindowText), QColor(Qt::blue));
  QLabel* author = Child("Label3");
  EXPECT_EQ(author->font().pointSize(), 12);
  EXPECT_TRUE(author->font().bold());
  EXPECT_EQ(author->palette().color(QPalette::WindowText), QColor(0x80, 0x00, 0x80));
  EXPECT_EQ(Child("Label4")->text().count(u'\n'), 2) << "address, telephone and mobile lines";

  const struct {
    const char* Name;
    const char* ToolTip;
    const char* StatusTip;
  } links[] = {{"Label5", "E-mail küldése", "E-mail küldése a szerzőnek !"},
               {"Label6", "Cím behívása", "Cím behívása böngésző programba !"}};
  for (const auto& l : links) {
    QLabel* link = Child(l.Name);
    EXPECT_TRUE(link->font().underline()) << l.Name;
    EXPECT_EQ(link->cursor().shape(), Qt::PointingHandCursor) << l.Name;
    EXPECT_EQ(link->toolTip(), QString::fromUtf8(l.ToolTip));
    EXPECT_EQ(link->statusTip(), QString::fromUtf8(l.StatusTip));
  }

  QLabel* source = Child("Label7");
  EXPECT_EQ(source->text(),
            QStringLiteral("Készült a KSH \"A Magyar Köztársaság Helységnévtára 2003\" című kiadványa alapján."));
  EXPECT_TRUE(source->wordWrap());
  EXPECT_TRUE(source->alignment() & Qt::AlignHCenter);

  const char* captions[] = {"Operációs rendszer:", "Processzor típusa:", "Processzor sebessége:", "Fizikai memória:",
                            "Memória használatban:"};
  QLabel* values[] = {Form().Label13(), Form().Label14(), Form().Label15(), Form().Label16(), Form().Label17()};
  for (int i = 0; i < 5; ++i) {
    QLabel* caption = Child(("Label" + std::to_string(8 + i)).c_str());
    EXPECT_EQ(caption->text(), QString::fromUtf8(captions[i]));
    EXPECT_EQ(values[i]->objectName(), QStringLiteral("Label%1").arg(13 + i));
    EXPECT_EQ(values[i]->width(), 145);
    EXPECT_TRUE(values[i]->alignment() & Qt::AlignRight);
    EXPECT_EQ(values[i]->y(), caption->y()) << "value beside its caption";
  }

  auto* msInfo = Child<QPushButton>("BitBtn1");
  auto* finish = Child<QPushButton>("BitBtn2");
  EXPECT_EQ(msInfo->text(), QStringLiteral("MS Info"));
  EXPECT_EQ(msInfo->toolTip(), QStringLiteral("Rendszerinformáció megjelenítése !"));
  EXPECT_EQ(finish->text(), QStringLiteral("Befejezés"));
  EXPECT_EQ(finish->toolTip(), QStringLiteral("Befejezés !"));
  EXPECT_LT(msInfo->x(), finish->x());
  EXPECT_GT(msInfo->y(), previousBottom);
}

TEST_F(AboutWindowTest, MailAndWebLabelsHandTheirAddressesToTheShell) {
  ASSERT_TRUE(testsupport::WhileShownModally(Form(), [&] {
    QTest::mouseClick(Child("Label5"), Qt::LeftButton);
    QTest::mouseClick(Child("Label6"), Qt::LeftButton);
    // Other labels are no links.
    QTest::mouseClick(Child("Label4"), Qt::LeftButton);
  }));
  ASSERT_EQ(Shell.Requests.size(), 2u);
  EXPECT_EQ(Shell.Requests[0].Kind, QStringLiteral("address"));
  EXPECT_TRUE(Shell.Requests[0].Target.startsWith(QStringLiteral("mailto:")));
  EXPECT_EQ(Shell.Requests[0].Target, vidora::TForm7::MailAddress());
  EXPECT_EQ(Shell.Requests[1].Kind, QStringLiteral("address"));
  EXPECT_TRUE(Shell.Requests[1].Target.startsWith(QStringLiteral("https://")));

  // A desktop that cannot open them reports nothing.
  Shell.Succeeds = false;
  testsupport::TMessageBoxes boxes;
  ASSERT_TRUE(testsupport::WhileShownModally(Form(), [&] { QTest::mouseClick(Child("Label5"), Qt::LeftButton); }));
  EXPECT_EQ(Shell.Requests.size(), 3u);
  EXPECT_TRUE(boxes.Shown().empty());
}

TEST(AboutWindowDesktopTest, MailAndWebAddressesReachTheDesktopServices) {
  testsupport::TTempWorkingDir dir;
  apptest::TEmptySettlementTables tables;
  apptest::TUrlCatcher mail(QStringLiteral("mailto"));
  apptest::TUrlCatcher web(QStringLiteral("https"));
  vidora::TDesktopShell shell;
  vidora::TVidora app(shell);
  app.CreateInstances();
  TFixedSystemInfo info;
  app.Form7()->SetSystemInfo(info);
  ASSERT_TRUE(testsupport::WhileShownModally(*app.Form7(), [&] {
    QTest::mouseClick(app.Form7()->findChild<QLabel*>(QStringLiteral("Label5")), Qt::LeftButton);
    QTest::mouseClick(app.Form7()->findChild<QLabel*>(QStringLiteral("Label6")), Qt::LeftButton);
  }));
  ASSERT_EQ(mail.Opened.size(), 1);
  EXPECT_EQ(mail.Opened[0], QUrl(vidora::TForm7::MailAddress()));
  ASSERT_EQ(web.Opened.size(), 1);
  EXPECT_EQ(web.Opened[0], QUrl(vidora::TForm7::WebAddress()));
}

TEST_F(AboutWindowTest, MsInfoIsEnabledOnlyWithASystemInformationProgramAndStartsIt) {
  ASSERT_TRUE(testsupport::WhileShownModally(Form(), [&] {
    EXPECT_FALSE(Form().MsInfoButton()->isEnabled());
    QTest::mouseClick(Form().MsInfoButton(), Qt::LeftButton);
  }));
  EXPECT_TRUE(Shell.Requests.empty());

  Info.Program = QStringLiteral("/usr/bin/hardinfo");
  ASSERT_TRUE(testsupport::WhileShownModally(Form(), [&] {
    EXPECT_TRUE(Form().MsInfoButton()->isEnabled());
    QTest::mouseClick(Form().MsInfoButton(), Qt::LeftButton);
  }));
  ASSERT_EQ(Shell.Requests.size(), 1u);
  EXPECT_EQ(Shell.Requests[0].Kind, QStringLiteral("program"));
  EXPECT_EQ(Shell.Requests[0].Target, QStringLiteral("/usr/bin/hardinfo"));
  EXPECT_TRUE(Shell.Requests[0].Arguments.isEmpty());

  // Removed again: the next showing looks afresh.
  Info.Program.clear();
  ASSERT_TRUE(testsupport::WhileShownModally(Form(), [&] { EXPECT_FALSE(Form().MsInfoButton()->isEnabled()); }));
}

TEST_F(AboutWindowTest, AuthorDoubleClickShowsThePictureWindowAndBefejezesCloses) {
  QWidget* picture = nullptr;
  bool stillOpenBehind = false;
  bool closedByFinish = false;
  testsupport::WhenModalShown([&](QWidget*) {
    testsupport::WhenModalShown([&](QWidget* w) {
      picture = w;
      stillOpenBehind = Form().isVisible();
      QTest::mouseClick(App.Form8()->Image1(), Qt::LeftButton);
    });
    QTest::mouseDClick(Child("Label3"), Qt::LeftButton);
    QTest::mouseClick(Child<QPushButton>("BitBtn2"), Qt::LeftButton);
    closedByFinish = !Form().isVisible();
  });
  Form().ShowModal();
  EXPECT_EQ(picture, App.Form8());
  EXPECT_TRUE(stillOpenBehind);
  EXPECT_FALSE(App.Form8()->isVisible());
  EXPECT_TRUE(closedByFinish);
}

TEST_F(AboutWindowTest, PictureWindowClosesOnAClickOnItsPictureOrPanel) {
  vidora::TForm8& picture = *App.Form8();
  ASSERT_NE(picture.Image1(), nullptr);
  EXPECT_EQ(picture.Image1()->size(), QSize(129, 137));
  EXPECT_FALSE(picture.Image1()->pixmap().isNull());
  auto* panel = picture.findChild<QFrame*>(QStringLiteral("Panel1"));
  ASSERT_NE(panel, nullptr);
  EXPECT_EQ(panel->frameShadow(), QFrame::Sunken);
  for (QWidget* target : {static_cast<QWidget*>(picture.Image1()), static_cast<QWidget*>(panel)}) {
    bool closed = false;
    testsupport::WhenModalShown([&](QWidget*) {
      QTest::mouseClick(target, Qt::LeftButton, {}, QPoint(2, 2));
      closed = !picture.isVisible();
    });
    picture.ShowModal();
    EXPECT_TRUE(closed) << target->objectName().toStdString();
  }
}

// Points PATH at a directory of the test's own for the lifetime of the object.
class TPathHere {
 public:
  TPathHere() : FPrevious(qgetenv("PATH")) { qputenv("PATH", FDir.path().toLocal8Bit()); }
  ~TPathHere() { qputenv("PATH", FPrevious); }
  QString Install(const QString& name) {
    const QString path = FDir.filePath(name);
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("#!/bin/sh\n");
    file.close();
    file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return path;
  }

 private:
  QByteArray FPrevious;
  QTemporaryDir FDir;
};

TEST(SystemInformationProgramTest, FoundOnPathOnlyWhenInstalledAndExecutable) {
  vidora::TLinuxSystemInfo info;
  TPathHere path;
  EXPECT_EQ(info.InformationProgram(), QString());

  // A file that is not executable is no program.
  QFile plain(QDir(qEnvironmentVariable("PATH")).filePath(QStringLiteral("kinfocenter")));
  ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
  plain.close();
  EXPECT_EQ(info.InformationProgram(), QString());

  const QString hardinfo = path.Install(QStringLiteral("hardinfo"));
  EXPECT_EQ(info.InformationProgram(), hardinfo);
  // The list's order decides between two installed programs.
  const QString kinfocenter = path.Install(QStringLiteral("kinfocenter"));
  EXPECT_EQ(info.InformationProgram(), kinfocenter);
}

TEST(ThisMachineTest, AboutWindowShowsPlausibleFiguresOfThisComputer) {
  const QLocale previous;
  QLocale::setDefault(Hungarian);
  testsupport::TTempWorkingDir dir;
  apptest::TEmptySettlementTables tables;
  apptest::TRecordingShell shell;
  vidora::TVidora app(shell);
  app.CreateInstances();
  vidora::TForm7& form = *app.Form7();
  QStringList texts;
  QString description;
  ASSERT_TRUE(testsupport::WhileShownModally(form, [&] {
    for (QLabel* l : {form.Label13(), form.Label14(), form.Label15(), form.Label16(), form.Label17()})
      texts << l->text();
    description = form.Label13()->toolTip();
  }));
  QLocale::setDefault(previous);
  std::printf("summary of this machine: %s\n", qPrintable(texts.join(QStringLiteral(" | "))));

  EXPECT_TRUE(QRegularExpression(QStringLiteral("^\\S.*  \\(\\d+(\\.\\d+){0,2}\\)$")).match(texts[0]).hasMatch())
      << texts[0].toStdString();
  EXPECT_TRUE(description.contains(texts[0].section(u' ', 0, 0))) << description.toStdString();
  EXPECT_FALSE(texts[1].isEmpty());
#if defined(__x86_64__) || defined(__i386__)
  EXPECT_TRUE(QRegularExpression(QStringLiteral("^\\d+/\\d+  Rev\\. \\d+$")).match(texts[1]).hasMatch())
      << texts[1].toStdString();
  // Measured with the cycle counter: between a slow laptop's and any processor of today.
  const QRegularExpressionMatch speed = QRegularExpression(QStringLiteral("^(\\d+),(\\d\\d) MHz$")).match(texts[2]);
  ASSERT_TRUE(speed.hasMatch()) << texts[2].toStdString();
  EXPECT_GT(speed.captured(1).toInt(), 200);
  EXPECT_LT(speed.captured(1).toInt(), 10000);
#endif
  const QRegularExpressionMatch memory =
      QRegularExpression(QStringLiteral("^(\\d{1,3}(\u00A0\\d{3})*) KB$")).match(texts[3]);
  ASSERT_TRUE(memory.hasMatch()) << texts[3].toStdString();
  const qulonglong kilobytes = memory.captured(1).remove(QChar(0x00A0)).toULongLong();
  EXPECT_GT(kilobytes, 64ull * 1024) << "more than 64 MB";
  EXPECT_LT(kilobytes, 64ull * 1024 * 1024 * 1024) << "less than 64 TB";
  const QRegularExpressionMatch load = QRegularExpression(QStringLiteral("^(\\d{1,3}) %$")).match(texts[4]);
  ASSERT_TRUE(load.hasMatch()) << texts[4].toStdString();
  EXPECT_LE(load.captured(1).toInt(), 100);
}

}  // namespace
