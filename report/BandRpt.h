// Banded reports. A report holds horizontal bands (title, page header, column header,
// detail, page footer, summary, groups, sub-details, child bands), each band printable
// controls. Generating walks the report's dataset record by record and prints each band
// below the previous one; when a band does not fit, a new column (or page) is taken, with
// the page footer and the next page header around the break. Pages go to a page producer as
// display lists in tenths of a millimetre (the in-memory page list here; the page store and
// preview build on the same seam).
//
// Geometry is held in tenths of a millimetre; Units only changes how values read in other
// units (ToUnits/FromUnits). The report's page number, column number and title are
// constants of its expression environment (Functions) while it generates.
// GUI thread only; the generator lets window messages run between records.
#pragma once

#include <QDateTime>
#include <QObject>
#include <array>
#include <functional>
#include <memory>
#include <vector>

#include "BRCtrls.h"
#include "BRDisplay.h"
#include "BRExpr.h"
#include "BRFormat.h"
#include "BRMetrics.h"

namespace tk {
class TDataSet;
}

namespace br {

enum class TBRUnit : unsigned char { MM, Inches, Pixels, Characters, Native };
enum class TBROrientation : unsigned char { poPortrait, poLandscape };
// The paper sizes this system offers by name; any other size is Custom.
enum class TBRPaperSize : unsigned char { Default, Letter, Legal, Executive, A3, A4, A5, B4, B5, Custom };

struct TBRPage {
  int BottomMargin = 100;
  int ColumnSpace = 0;
  int Columns = 1;
  int LeftMargin = 100;
  int Length = 2970;
  TBROrientation Orientation = TBROrientation::poPortrait;
  TBRPaperSize PaperSize = TBRPaperSize::A4;
  int RightMargin = 100;
  bool Ruler = true;
  int TopMargin = 100;
  int Width = 2100;
  bool Continuous = false;
  // The stored value list: bottom margin, length, top margin, width, left margin, right
  // margin, column space.
  std::array<int, 7> Values() const noexcept;
  void SetValues(const std::array<int, 7>& values) noexcept;
};

enum class TBRBandType : unsigned char {
  rbTitle, rbPageHeader, rbDetail, rbPageFooter, rbSummary, rbGroupHeader, rbGroupFooter, rbSubDetail, rbColumnHeader, rbOverlay, rbWild, rbChild
};

enum class TCBPrintOrder : unsigned char { cboBeforeParent, cboAfterParent, cboBeforeAndAfter };

struct TBandReportOptions {
  bool FirstPageHeader = false;
  bool LastPageFooter = false;
  bool Compression = false;
};

enum class TBRBin : unsigned char {
  First, Upper, Lower, Middle, Manual, Envelope, EnvManual, Auto, Tractor, SmallFormat, LargeFormat, LargeCapacity, Cassette, Last
};

struct TBandRepPrinterSettings {
  int Copies = 1;
  bool Duplex = false;
  int FirstPage = 0;
  int LastPage = 0;
  TBRBin OutputBin = TBRBin::Auto;
};

enum class TBRReportState : unsigned char { brAvailable, brPrepare, brPreview, brPrint, brEdit };

struct TBRBandSize {
  int Height = 0;
  int Width = 0;  // 0: the page's printable width
};

class TBRChildBand;

class TBRBand {
 public:
  TBRBand(TCustomBandRep& report, TBRBandType type);
  TBRBand(const TBRBand&) = delete;
  TBRBand& operator=(const TBRBand&) = delete;
  virtual ~TBRBand();

  QString Name;
  TBRBandType BandType;
  bool AlignToBottom = false;
  QRgb Color = kBRWhite;
  bool Enabled = true;
  bool TransparentBand = false;
  TBRFont Font;
  bool ParentFont = true;
  bool ForceNewColumn = false;
  bool ForceNewPage = false;
  TBRBand* LinkBand = nullptr;
  TBRBandSize Size;
  bool PreCaluculateBandHeight = false;
  bool KeepOnOnePage = false;
  TBRFrame Frame;
  // May decide that the band is not printed.
  std::function<void(TBRBand&, bool& printBand)> BeforePrint;
  std::function<void(TBRBand&, bool printed)> AfterPrint;

  TCustomBandRep& Report() const noexcept { return *FReport; }
  TBRFont EffectiveFont() const;
  int Width() const;

  // The child band printed with this one; made on demand.
  bool HasChild() const noexcept { return FChild != nullptr; }
  void SetHasChild(bool value);
  TBRChildBand* ChildBand() const noexcept { return FChild; }

  template <class T>
  T& Add() {
    auto control = std::make_unique<T>(*this);
    T& ref = *control;
    FControls.push_back(std::move(control));
    return ref;
  }
  const std::vector<std::unique_ptr<TBRPrintable>>& Controls() const noexcept { return FControls; }

  // While the band prints: a control asks for the band to be `extra` taller than its size.
  // Granted while the page has room below the band.
  bool Expand(int extra);
  int Expanded() const noexcept { return FExpanded; }
  // The height the band needs for all of its controls' text.
  int NeededHeight();

 private:
  friend class TCustomBandRep;
  TCustomBandRep* FReport;
  TBRChildBand* FChild = nullptr;
  std::vector<std::unique_ptr<TBRPrintable>> FControls;
  int FExpanded = 0;
  int FMaxExpansion = 0;
};

class TBRChildBand : public TBRBand {
 public:
  TBRChildBand(TCustomBandRep& report, TBRBand& parent);
  TBRBand* ParentBand = nullptr;
  TCBPrintOrder PrintOrder = TCBPrintOrder::cboAfterParent;
};

// A group header: printed when the value of its expression changes from record to record
// (outer groups first); its footer band follows the group's last record.
class TBRGroup : public TBRBand {
 public:
  explicit TBRGroup(TCustomBandRep& report);
  ~TBRGroup() override;
  QString Expression;
  TBRBand* FooterBand = nullptr;
  bool ReprintOnNewPage = false;

 private:
  friend class TCustomBandRep;
  TBREvaluator FEvaluator;
  TBREvResult FLast;
};

// A band repeated for each record of its own dataset within each record of the report.
class TBRSubDetail : public TBRBand, public TBRMaster {
 public:
  explicit TBRSubDetail(TCustomBandRep& report);
  tk::TDataSet* DataSet = nullptr;
  QString DataSetName;
  TBRBand* HeaderBand = nullptr;
  TBRBand* FooterBand = nullptr;
  bool PrintBefore = false;
  bool PrintIfEmpty = false;
  std::function<void(bool& moreData)> OnNeedData;
};

class TCustomBandRep : public QObject, public TBRMaster {
  Q_OBJECT
 public:
  explicit TCustomBandRep(QObject* parent = nullptr);
  ~TCustomBandRep() override;

  // ----- properties
  TBRPage Page;
  int Zoom = 100;
  TBandReportOptions Options;
  TBandRepPrinterSettings PrinterSettings;
  bool PrintIfEmpty = true;
  QString ReportTitle;
  bool ShowProgress = true;
  bool SnapToGrid = true;
  int PagesInPreview = 0;
  TBRFont Font;
  QRgb BackgroundColor = kBRWhite;
  QString BackImageControl;
  QString Description;
  // Named constants and expressions of the report (PAGENUMBER, COLUMNNUMBER, REPORTTITLE...).
  TBREvEnvironment Functions;

  TBRUnit Units() const noexcept { return FUnits; }
  void SetUnits(TBRUnit value) noexcept { FUnits = value; }
  // A native value in the current units and back.
  double ToUnits(int native, bool horizontal) const;
  int FromUnits(double value, bool horizontal) const;

  tk::TDataSet* DataSet() const noexcept { return FDataSet; }
  // The dataset and the name expressions use for it ("Table1.TELEP").
  void SetDataSet(tk::TDataSet* value, const QString& name = QString());

  // Layout measures text through these metrics (the fonts themselves unless set).
  const TBRFontMetrics& Metrics() const;
  void SetMetrics(std::shared_ptr<const TBRFontMetrics> value) { FMetrics = std::move(value); }
  // Date and time of printing (the clock unless set).
  std::function<QDateTime()> Clock;
  // Runs between records so that windows stay responsive (window messages unless set).
  std::function<void()> ProcessMessages;

  // ----- events
  std::function<void(TCustomBandRep&, bool& cancel)> BeforePrint;
  std::function<void(TCustomBandRep&)> AfterPrint;
  std::function<void(TCustomBandRep&)> BeforePreview;
  std::function<void(TCustomBandRep&)> AfterPreview;
  std::function<void(bool& moreData)> OnNeedData;
  std::function<void(TCustomBandRep&)> OnStartPage;
  std::function<void(TCustomBandRep&)> OnEndPage;

  // ----- bands
  TBRBand& AddBand(TBRBandType type);
  TBRGroup& AddGroup();
  TBRSubDetail& AddSubDetail();
  const std::vector<std::unique_ptr<TBRBand>>& Bands() const noexcept { return FBands; }
  // The band slots: the first enabled-or-not band of each type.
  TBRBand* TitleBand() const { return Slot(TBRBandType::rbTitle); }
  TBRBand* PageHeaderBand() const { return Slot(TBRBandType::rbPageHeader); }
  TBRBand* ColumnHeaderBand() const { return Slot(TBRBandType::rbColumnHeader); }
  TBRBand* DetailBand() const { return Slot(TBRBandType::rbDetail); }
  TBRBand* PageFooterBand() const { return Slot(TBRBandType::rbPageFooter); }
  TBRBand* SummaryBand() const { return Slot(TBRBandType::rbSummary); }
  // Every control of every band, in band order (to find one by name).
  TBRPrintable* FindControl(const QString& name) const;

  // ----- generating
  // Generates the pages into `producer` (one pass). An exception discards the pages and is
  // passed on; a cancel discards the pages.
  void Generate(TBRPageProducer& producer);
  // Generates into the report's own page list.
  void Prepare();
  TBRPageList& Pages() noexcept { return FPages; }
  // Shows the pages while they are produced; returns when the preview closes. Without a
  // preview window the pages are produced into the page list.
  virtual void Preview();
  // Stops generation at the next record; the pages are discarded.
  void Cancel() noexcept { FCancelled = true; }

  // ----- run-time state
  bool Available() const noexcept { return FAvailable; }
  bool Cancelled() const noexcept { return FCancelled; }
  int CurrentColumn() const noexcept { return FCurrentColumn; }
  int CurrentX() const noexcept { return FCurrentX; }
  int CurrentY() const noexcept { return FCurrentY; }
  int ColumnTopPosition() const noexcept { return FColumnTop; }
  int PageNumber() const noexcept { return FPageCount; }
  bool FinalPass() const noexcept { return true; }
  TBRReportState State() const noexcept { return FState; }
  int RecordCount() const noexcept { return FRecordCount; }
  int RecordNumber() const noexcept { return FRecordNumber; }
  // The datasets expressions see (the report's and the sub-details').
  TBRDataSets ReportDataSets() const;

  // Page and column breaks (also for event handlers).
  void NewPage();
  void NewColumn();
  // Room left on the page above the page footer; 0 before the first page.
  int AvailableSpace() const;
  // The page's length and width as printed (landscape turns a named paper size).
  int PageLength() const noexcept;
  int PageWidth() const noexcept;
  // The band's bottom limit: above the page footer, or the bottom margin for the footer itself.
  int BandLimit(const TBRBand& band) const noexcept;

 private:
  friend class TBRBand;
  struct TController {
    TBRBand* Detail = nullptr;
    TBRBand* Header = nullptr;
    TBRBand* Footer = nullptr;
    tk::TDataSet* DataSet = nullptr;
    std::function<void(bool&)> NeedData;
    bool PrintIfEmpty = false;
    bool Main = false;
    TBRMaster* Master = nullptr;
  };

  TBRBand* Slot(TBRBandType type) const;
  void RunController(const TController& c);
  void PrintSubDetails(bool before);
  std::vector<TBRGroup*> Groups() const;
  // Prints a band. `mayBreak` false: the page machinery prints it where it stands.
  void PrintBand(TBRBand* band, bool mayBreak = true, bool asFooter = false);
  void DrawBand(TBRBand& band, bool asFooter);
  void EndPage();
  int PrintableLength() const noexcept { return PageLength() - Page.TopMargin - Page.BottomMargin; }
  int ColumnWidth() const;
  void SetConstant(TBREvElement* constant, int value);

  TBRUnit FUnits = TBRUnit::MM;
  tk::TDataSet* FDataSet = nullptr;
  QString FDataSetName;
  std::shared_ptr<const TBRFontMetrics> FMetrics;
  std::vector<std::unique_ptr<TBRBand>> FBands;
  TBRPageList FPages;

  TBRPageProducer* FProducer = nullptr;
  bool FAvailable = true;
  bool FCancelled = false;
  bool FLastPage = false;
  bool FColumnJustStarted = false;
  bool FNewPageStarted = false;
  bool FGroupsRunning = false;
  int FCurrentColumn = 0;
  int FCurrentX = 0;
  int FCurrentY = -1;
  int FColumnTop = 0;
  int FPageCount = 0;
  int FPageFooterSize = 0;
  int FRecordCount = 0;
  int FRecordNumber = 0;
  bool FPreviewShowing = false;
  TBRReportState FState = TBRReportState::brAvailable;
  TBREvElement* FPageNumberConstant = nullptr;
  TBREvElement* FColumnNumberConstant = nullptr;
  TBREvElement* FTitleConstant = nullptr;
};

class TBandRep : public TCustomBandRep {
  Q_OBJECT
 public:
  explicit TBandRep(QObject* parent = nullptr) : TCustomBandRep(parent) {}
};

}  // namespace br
