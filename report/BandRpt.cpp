#include "BandRpt.h"

#include <QCoreApplication>
#include <algorithm>
#include <cmath>

#include "db/TDataSet.h"

namespace br {

// ----- page

std::array<int, 7> TBRPage::Values() const noexcept {
  return {BottomMargin, Length, TopMargin, Width, LeftMargin, RightMargin, ColumnSpace};
}

void TBRPage::SetValues(const std::array<int, 7>& v) noexcept {
  BottomMargin = v[0];
  Length = v[1];
  TopMargin = v[2];
  Width = v[3];
  LeftMargin = v[4];
  RightMargin = v[5];
  ColumnSpace = v[6];
}

// ----- bands

TBRBand::TBRBand(TCustomBandRep& report, TBRBandType type) : BandType(type), FReport(&report) {}

TBRBand::~TBRBand() = default;

TBRFont TBRBand::EffectiveFont() const { return ParentFont ? FReport->Font : Font; }

int TBRBand::Width() const {
  if (Size.Width > 0) return Size.Width;
  return FReport->PageWidth() - FReport->Page.LeftMargin - FReport->Page.RightMargin;
}

void TBRBand::SetHasChild(bool value) {
  if (value == HasChild()) return;
  if (value) {
    auto& child = static_cast<TBRChildBand&>(*FReport->FBands.emplace_back(std::make_unique<TBRChildBand>(*FReport, *this)));
    FChild = &child;
  } else {
    TBRBand* child = FChild;
    FChild = nullptr;
    std::erase_if(FReport->FBands, [child](const std::unique_ptr<TBRBand>& b) { return b.get() == child; });
  }
}

bool TBRBand::Expand(int extra) {
  if (extra <= FExpanded) return true;
  if (extra > FMaxExpansion) return false;
  FExpanded = extra;
  return true;
}

int TBRBand::NeededHeight() {
  int extra = 0;
  for (const auto& control : FControls)
    if (control->Enabled) extra = std::max(extra, control->NeededExtra());
  return Size.Height + extra;
}

TBRChildBand::TBRChildBand(TCustomBandRep& report, TBRBand& parent) : TBRBand(report, TBRBandType::rbChild), ParentBand(&parent) {}

TBRGroup::TBRGroup(TCustomBandRep& report) : TBRBand(report, TBRBandType::rbGroupHeader) {}

TBRGroup::~TBRGroup() = default;

TBRSubDetail::TBRSubDetail(TCustomBandRep& report) : TBRBand(report, TBRBandType::rbSubDetail) {}

// ----- report

TCustomBandRep::TCustomBandRep(QObject* parent) : QObject(parent) {
  Functions.AddFunction(QStringLiteral("PAGENUMBER"), QStringLiteral("0"));
  Functions.AddFunction(QStringLiteral("COLUMNNUMBER"), QStringLiteral("0"));
  Functions.AddFunction(QStringLiteral("REPORTTITLE"), QStringLiteral("''"));
}

TCustomBandRep::~TCustomBandRep() = default;

double TCustomBandRep::ToUnits(int native, bool horizontal) const {
  switch (FUnits) {
    case TBRUnit::MM: return native / 10.0;
    case TBRUnit::Inches: return native / 254.0;
    case TBRUnit::Pixels: return native / (254.0 / 96.0) * Zoom / 100.0;
    case TBRUnit::Characters: {
      const int cell = horizontal ? Metrics().TextWidth(Font, QStringLiteral("0")) : Metrics().TextHeight(Font, QStringLiteral("W"));
      return cell > 0 ? static_cast<double>(native) / cell : 0.0;
    }
    case TBRUnit::Native: return native;
  }
  return native;
}

int TCustomBandRep::FromUnits(double value, bool horizontal) const {
  double native = value;
  switch (FUnits) {
    case TBRUnit::MM: native = value * 10.0; break;
    case TBRUnit::Inches: native = value * 254.0; break;
    case TBRUnit::Pixels: native = value * (254.0 / 96.0) * 100.0 / Zoom; break;
    case TBRUnit::Characters:
      native = value * (horizontal ? Metrics().TextWidth(Font, QStringLiteral("0")) : Metrics().TextHeight(Font, QStringLiteral("W")));
      break;
    case TBRUnit::Native: break;
  }
  return static_cast<int>(std::lround(native));
}

void TCustomBandRep::SetDataSet(tk::TDataSet* value, const QString& name) {
  FDataSet = value;
  FDataSetName = name;
}

const TBRFontMetrics& TCustomBandRep::Metrics() const {
  if (!FMetrics) const_cast<TCustomBandRep*>(this)->FMetrics = std::make_shared<TBRQtFontMetrics>();
  return *FMetrics;
}

TBRBand& TCustomBandRep::AddBand(TBRBandType type) {
  if (type == TBRBandType::rbGroupHeader) return AddGroup();
  if (type == TBRBandType::rbSubDetail) return AddSubDetail();
  return *FBands.emplace_back(std::make_unique<TBRBand>(*this, type));
}

TBRGroup& TCustomBandRep::AddGroup() {
  return static_cast<TBRGroup&>(*FBands.emplace_back(std::make_unique<TBRGroup>(*this)));
}

TBRSubDetail& TCustomBandRep::AddSubDetail() {
  return static_cast<TBRSubDetail&>(*FBands.emplace_back(std::make_unique<TBRSubDetail>(*this)));
}

TBRBand* TCustomBandRep::Slot(TBRBandType type) const {
  for (const auto& band : FBands)
    if (band->BandType == type) return band.get();
  return nullptr;
}

TBRPrintable* TCustomBandRep::FindControl(const QString& name) const {
  for (const auto& band : FBands)
    for (const auto& control : band->Controls())
      if (control->Name.compare(name, Qt::CaseInsensitive) == 0) return control.get();
  return nullptr;
}

std::vector<TBRGroup*> TCustomBandRep::Groups() const {
  std::vector<TBRGroup*> groups;
  for (const auto& band : FBands)
    if (auto* g = dynamic_cast<TBRGroup*>(band.get())) groups.push_back(g);
  return groups;
}

TBRDataSets TCustomBandRep::ReportDataSets() const {
  TBRDataSets sets;
  if (FDataSet) sets.push_back({FDataSetName, FDataSet});
  for (const auto& band : FBands)
    if (auto* sub = dynamic_cast<TBRSubDetail*>(band.get()); sub && sub->DataSet) sets.push_back({sub->DataSetName, sub->DataSet});
  return sets;
}

int TCustomBandRep::PageLength() const noexcept {
  return Page.Orientation == TBROrientation::poLandscape && Page.PaperSize != TBRPaperSize::Custom ? Page.Width : Page.Length;
}

int TCustomBandRep::PageWidth() const noexcept {
  return Page.Orientation == TBROrientation::poLandscape && Page.PaperSize != TBRPaperSize::Custom ? Page.Length : Page.Width;
}

int TCustomBandRep::AvailableSpace() const {
  if (FAvailable || FPageCount == 0) return 0;
  return PageLength() - Page.BottomMargin - FPageFooterSize - FCurrentY;
}

int TCustomBandRep::BandLimit(const TBRBand& band) const noexcept {
  const bool footer = band.BandType == TBRBandType::rbPageFooter;
  return PageLength() - Page.BottomMargin - (footer ? 0 : FPageFooterSize);
}

int TCustomBandRep::ColumnWidth() const {
  if (TBRBand* detail = DetailBand()) return detail->Width();
  const int columns = std::max(1, Page.Columns);
  return (PageWidth() - Page.LeftMargin - Page.RightMargin - Page.ColumnSpace * (columns - 1)) / columns;
}

void TCustomBandRep::SetConstant(TBREvElement* constant, int value) { TBREvEnvironment::SetIntegerConstant(constant, value); }

// ----- generating

void TCustomBandRep::Prepare() {
  FState = TBRReportState::brPrepare;
  try {
    Generate(FPages);
  } catch (...) {
    FState = TBRReportState::brAvailable;
    throw;
  }
  FState = TBRReportState::brAvailable;
}

void TCustomBandRep::Preview() {
  if (FPreviewShowing) return;
  FPreviewShowing = true;
  try {
    if (BeforePreview) BeforePreview(*this);
    Prepare();
    if (AfterPreview) AfterPreview(*this);
    if (FCancelled) FPages.AbortDoc();
  } catch (...) {
    FPreviewShowing = false;
    throw;
  }
  FPreviewShowing = false;
}

void TCustomBandRep::Generate(TBRPageProducer& producer) {
  if (!FAvailable) return;
  FAvailable = false;
  FCancelled = false;
  FLastPage = false;
  FColumnJustStarted = false;
  FNewPageStarted = false;
  FProducer = &producer;
  const auto release = [this] {
    FProducer = nullptr;
    FAvailable = true;
  };

  bool cancel = false;
  if (BeforePrint) {
    try {
      BeforePrint(*this, cancel);
    } catch (...) {
      release();
      throw;
    }
  }
  if (cancel) {
    FCancelled = true;
    release();
    return;
  }

  const TBRUnit units = FUnits;
  FUnits = TBRUnit::Native;
  FCurrentY = -1;
  FPageCount = 0;
  FCurrentColumn = Page.Columns;
  FCurrentX = Page.LeftMargin;
  FColumnTop = Page.TopMargin;
  FRecordNumber = 0;
  FRecordCount = 0;
  FGroupsRunning = false;

  // The page footer's size: the enabled page footers and their enabled children.
  FPageFooterSize = 0;
  for (const auto& band : FBands) {
    if (band->BandType != TBRBandType::rbPageFooter || !band->Enabled) continue;
    FPageFooterSize += band->Size.Height;
    if (band->ChildBand() && band->ChildBand()->Enabled) FPageFooterSize += band->ChildBand()->Size.Height;
  }

  // Walking the dataset scrolls it: controls bound to it stay quiet and the record the user
  // stood on is current again afterwards.
  tk::TDataSet* data = FDataSet && FDataSet->Active() ? FDataSet : nullptr;
  tk::TBookmark position;
  if (data) {
    position = data->GetBookmark();
    data->DisableControls();
  }
  std::vector<TBRPrintable*> prepared;
  bool environmentPrepared = false;
  const auto cleanUp = [&]() noexcept {
    for (TBRPrintable* control : prepared) control->AfterGeneration();
    if (environmentPrepared) Functions.Unprepare();
    FPageNumberConstant = FColumnNumberConstant = FTitleConstant = nullptr;
    FUnits = units;
    if (data) {
      try {
        if (!position.empty() && data->Active() && data->BookmarkValid(position)) data->GotoBookmark(position);
      } catch (const std::exception&) {
        // The record may be gone; the dataset stays where the walk left it.
      }
      try {
        data->EnableControls();
      } catch (const std::exception&) {
      }
    }
  };

  try {
    producer.BeginDoc(ReportTitle, PageWidth(), PageLength());
    Functions.SetDatasets(ReportDataSets());
    Functions.Prepare();
    environmentPrepared = true;
    FPageNumberConstant = Functions.GetConstant(QStringLiteral("PAGENUMBER"));
    FColumnNumberConstant = Functions.GetConstant(QStringLiteral("COLUMNNUMBER"));
    FTitleConstant = Functions.GetConstant(QStringLiteral("REPORTTITLE"));
    TBREvEnvironment::SetStringConstant(FTitleConstant, ReportTitle);
    for (const auto& band : FBands)
      for (const auto& control : band->Controls()) {
        control->BeforeGeneration();
        prepared.push_back(control.get());
      }
    for (TBRGroup* group : Groups()) {
      group->FEvaluator.SetDataSets(ReportDataSets());
      group->FEvaluator.SetEnvironment(&Functions);
      group->FEvaluator.Prepare(group->Expression);
    }

    TController main;
    main.Detail = DetailBand();
    main.Header = TitleBand();
    main.Footer = SummaryBand();
    main.DataSet = data;
    main.NeedData = OnNeedData;
    main.PrintIfEmpty = PrintIfEmpty;
    main.Main = true;
    main.Master = this;
    RunController(main);

    FLastPage = true;
    if (!FCancelled && FPageCount > 0) EndPage();
  } catch (...) {
    for (TBRGroup* group : Groups()) group->FEvaluator.UnPrepare();
    cleanUp();
    producer.AbortDoc();
    release();
    throw;
  }
  for (TBRGroup* group : Groups()) group->FEvaluator.UnPrepare();
  cleanUp();
  if (FCancelled)
    producer.AbortDoc();
  else
    producer.EndDoc();
  release();
}

namespace {

bool SameValue(const TBREvResult& a, const TBREvResult& b) {
  if (a.Kind != b.Kind) return false;
  switch (a.Kind) {
    case TBREvResultType::resInt: return a.intResult == b.intResult;
    case TBREvResultType::resDouble: return a.dblResult == b.dblResult;
    case TBREvResultType::resBool: return a.booResult == b.booResult;
    default: return a.StringVal == b.StringVal;
  }
}

}  // namespace

void TCustomBandRep::RunController(const TController& c) {
  const std::vector<TBRGroup*> groups = c.Main ? Groups() : std::vector<TBRGroup*>{};
  for (TBRGroup* group : groups) group->FEvaluator.Reset();
  bool more = false;
  if (c.DataSet) {
    c.DataSet->First();
    more = !c.DataSet->Eof();
  } else if (c.NeedData) {
    c.NeedData(more);
  }
  if (c.Main) FRecordCount = c.DataSet ? c.DataSet->RecordCount() : 0;

  if (!more) {
    if (c.PrintIfEmpty) {
      // No record: the detail prints once with empty fields, aggregates take nothing in.
      PrintBand(c.Header);
      PrintBand(c.Detail);
      PrintBand(c.Footer);
    }
    return;
  }

  PrintBand(c.Header);
  // On the first page the columns start below the title.
  if (c.Main && c.Header && c.Header->Enabled && FPageCount == 1) FColumnTop = FCurrentY;
  if (c.Main && FPageCount < 2) PrintBand(ColumnHeaderBand());

  for (TBRGroup* group : groups) {
    group->FEvaluator.Value(group->FLast);
    PrintBand(group);
  }
  if (c.Main) FGroupsRunning = true;

  while (more) {
    if (ProcessMessages)
      ProcessMessages();
    else if (QCoreApplication::instance())
      QCoreApplication::processEvents();
    if (FCancelled) break;
    if (c.Main) ++FRecordNumber;
    if (c.Main) PrintSubDetails(true);
    // Aggregating expressions take the record in as its detail prints (a running sum in the
    // detail band includes the record itself).
    if (c.Master) c.Master->NotifyDetail();
    PrintBand(c.Detail);
    if (c.Main) PrintSubDetails(false);

    if (c.DataSet) {
      c.DataSet->Next();
      more = !c.DataSet->Eof();
    } else if (c.NeedData) {
      more = false;
      c.NeedData(more);
    } else {
      more = false;
    }

    if (more && !groups.empty()) {
      // The outermost group whose value changed; every group inside it changes with it.
      std::size_t changed = groups.size();
      std::vector<TBREvResult> values(groups.size());
      for (std::size_t i = 0; i < groups.size(); ++i) {
        groups[i]->FEvaluator.Value(values[i]);
        if (changed == groups.size() && !SameValue(values[i], groups[i]->FLast)) changed = i;
      }
      if (changed < groups.size()) {
        // The footers belong to the group's last record.
        if (c.DataSet) c.DataSet->Prior();
        for (std::size_t i = groups.size(); i-- > changed;) PrintBand(groups[i]->FooterBand);
        if (c.DataSet) c.DataSet->Next();
        for (std::size_t i = changed; i < groups.size(); ++i) {
          groups[i]->FLast = values[i];
          PrintBand(groups[i]);
        }
      }
    }
    if (c.Main && FProducer && FRecordCount > 0) FProducer->SetProgress(static_cast<int>(std::int64_t{FRecordNumber} * 100 / FRecordCount));
    if (c.Main && PagesInPreview > 0 && FProducer && FProducer->PageNumber() > PagesInPreview) break;
  }

  if (c.Main) FGroupsRunning = false;
  for (std::size_t i = groups.size(); i-- > 0;) PrintBand(groups[i]->FooterBand);
  if (c.Footer && c.Footer->Enabled) {
    if (FPageCount == 0) NewPage();
    if (c.Footer->Size.Height > AvailableSpace()) NewColumn();
    PrintBand(c.Footer, false);
  }
}

void TCustomBandRep::PrintSubDetails(bool before) {
  for (const auto& band : FBands) {
    auto* sub = dynamic_cast<TBRSubDetail*>(band.get());
    if (!sub || sub->PrintBefore != before || !sub->Enabled) continue;
    TController c;
    c.Detail = sub;
    c.Header = sub->HeaderBand;
    c.Footer = sub->FooterBand;
    c.DataSet = sub->DataSet && sub->DataSet->Active() ? sub->DataSet : nullptr;
    c.NeedData = sub->OnNeedData;
    c.PrintIfEmpty = sub->PrintIfEmpty;
    c.Master = sub;
    RunController(c);
  }
}

void TCustomBandRep::PrintBand(TBRBand* band, bool mayBreak, bool asFooter) {
  if (!band) return;
  if (!band->Enabled) return;
  const bool footer = asFooter || band->BandType == TBRBandType::rbPageFooter;

  if (band->AlignToBottom && FPageCount > 0) {
    const bool bareSummary = band->BandType == TBRBandType::rbSummary && !Options.LastPageFooter;
    const int bottom = PageLength() - Page.BottomMargin - (bareSummary ? 0 : FPageFooterSize);
    if (bottom - band->Size.Height > FCurrentY) FCurrentY = bottom - band->Size.Height;
  }

  bool print = true;
  if (band->BeforePrint) band->BeforePrint(*band, print);
  if (!print) return;

  TBRChildBand* child = band->ChildBand();
  if (child && child->PrintOrder != TCBPrintOrder::cboAfterParent) PrintBand(child, mayBreak, footer);

  if (mayBreak && !footer) {
    const TBRBandType t = band->BandType;
    const bool mayForcePage = t != TBRBandType::rbTitle && t != TBRBandType::rbPageHeader &&
                              t != TBRBandType::rbPageFooter && t != TBRBandType::rbOverlay;
    if (band->ForceNewPage && mayForcePage && FPageCount > 0) {
      if (!FNewPageStarted) {
        FCurrentColumn = Page.Columns;
        NewColumn();
      }
    } else if (band->ForceNewColumn && FPageCount > 0) {
      // A column nothing was printed in yet is new enough.
      if (!FColumnJustStarted) NewColumn();
    } else {
      const int needed = band->Size.Height;
      const bool fits = FPageCount > 0 && (AvailableSpace() >= needed || needed > PrintableLength());
      // One break and the band prints on the fresh column or page whether it fits there or
      // not: a band taller than the room between page header and footer would otherwise
      // break pages for ever.
      if (!fits && !(Page.Continuous && FPageCount > 0))
        NewColumn();
      else if (band->KeepOnOnePage && band->NeededHeight() > AvailableSpace())
        NewColumn();
    }
  } else if (FPageCount == 0) {
    NewPage();
  }

  for (const auto& control : band->Controls())
    if (control->Enabled) control->BeginPrint();
  for (;;) {
    DrawBand(*band, footer);
    FCurrentY += band->Size.Height + band->Expanded();
    bool finished = true, progressed = false;
    for (const auto& control : band->Controls()) {
      if (!control->Enabled) continue;
      finished = finished && control->Finished();
      progressed = progressed || control->Progressed();
    }
    // The rest of a text continues on the next column; a text that cannot place a single
    // line on a fresh column is left there.
    if (finished || !mayBreak || footer || !progressed) break;
    NewColumn();
  }
  if (band->BandType != TBRBandType::rbPageHeader && band->BandType != TBRBandType::rbColumnHeader && !footer)
    FNewPageStarted = FColumnJustStarted = false;

  if (band->AfterPrint) band->AfterPrint(*band, true);
  if (child && child->PrintOrder != TCBPrintOrder::cboBeforeParent) PrintBand(child, mayBreak, footer);
}

void TCustomBandRep::DrawBand(TBRBand& band, bool asFooter) {
  TBRDisplayPage& canvas = FProducer->Canvas();
  const int limit = asFooter ? PageLength() - Page.BottomMargin : BandLimit(band);
  band.FExpanded = 0;
  band.FMaxExpansion = std::max(0, limit - (FCurrentY + band.Size.Height));
  const TBRRect rect{FCurrentX, FCurrentY, band.Width(), band.Size.Height};
  if (!band.TransparentBand) canvas.Fill(rect, band.Color);
  for (const auto& control : band.Controls())
    if (control->Enabled) control->Print(canvas, FCurrentX, FCurrentY);
  band.Frame.Draw(canvas, {rect.Left, rect.Top, rect.Width, rect.Height + band.Expanded()});
}

void TCustomBandRep::NewColumn() {
  if (FCurrentColumn >= Page.Columns) {
    NewPage();
    FCurrentX = Page.LeftMargin;
  } else {
    FCurrentX += ColumnWidth() + Page.ColumnSpace;
    FCurrentY = FColumnTop;
    ++FCurrentColumn;
  }
  SetConstant(FColumnNumberConstant, FCurrentColumn);
  FColumnJustStarted = true;
  if (!(FPageCount == 1 && FCurrentColumn == 1)) PrintBand(ColumnHeaderBand(), false);
}

void TCustomBandRep::NewPage() {
  if (FPageCount > 0) EndPage();
  ++FPageCount;
  SetConstant(FPageNumberConstant, FPageCount);
  FProducer->NewPage();
  FCurrentY = Page.TopMargin;
  FCurrentX = Page.LeftMargin;
  FCurrentColumn = 1;
  SetConstant(FColumnNumberConstant, 1);
  FColumnJustStarted = true;
  if (OnStartPage) OnStartPage(*this);
  TBRDisplayPage& canvas = FProducer->Canvas();
  if (BackgroundColor != kBRWhite) canvas.Fill({0, 0, PageWidth(), PageLength()}, BackgroundColor);
  if (!BackImageControl.isEmpty()) {
    if (auto* image = dynamic_cast<TBRImage*>(FindControl(BackImageControl)); image && !image->Picture.isNull())
      canvas.Picture({Page.LeftMargin, Page.TopMargin, PageWidth() - Page.LeftMargin - Page.RightMargin, PrintableLength()}, image->Picture);
  }
  if (FPageCount > 1 || Options.FirstPageHeader) PrintBand(PageHeaderBand(), false);
  // Within a group the group's header may be repeated at the top of each page.
  if (FGroupsRunning)
    for (TBRGroup* group : Groups())
      if (group->ReprintOnNewPage) PrintBand(group, false);
  FColumnTop = FCurrentY;
  FNewPageStarted = true;
}

void TCustomBandRep::EndPage() {
  FCurrentY = PageLength() - Page.BottomMargin - FPageFooterSize;
  FCurrentX = Page.LeftMargin;
  if (!(FLastPage && !Options.LastPageFooter)) PrintBand(PageFooterBand(), false, true);
  if (OnEndPage) OnEndPage(*this);
}

}  // namespace br
