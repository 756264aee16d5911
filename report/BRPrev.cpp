#include "BRPrev.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QSplitter>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QPdfWriter>
#include <QPrintDialog>
#include <QPrinter>
#include <QProgressDialog>
#include <QScrollArea>
#include <QScrollBar>
#include <QSpinBox>
#include <QStatusBar>
#include <QStyle>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>
#include <optional>

#include "BRMetrics.h"
#include "BRPrntr.h"
#include "BandRpt.h"

namespace br {

// The current page, painted at the preview's zoom on a grey desk.
class TBRPageView : public QWidget {
 public:
  explicit TBRPageView(TBRStandardPreview& owner) : QWidget(nullptr), FOwner(owner) {
    setObjectName(QStringLiteral("PageView"));
    setAutoFillBackground(true);
    QPalette p = palette();
    p.setColor(QPalette::Window, QColor(128, 128, 128));
    setPalette(p);
  }

  void SetPage(std::optional<TBRDisplayPage> page) {
    FPageData = std::move(page);
    Resize();
  }
  const std::optional<TBRDisplayPage>& Page() const noexcept { return FPageData; }

  // Device pixels per tenth of a millimetre at the owner's zoom.
  double Scale() const { return logicalDpiX() / 254.0 * FOwner.Zoom(); }
  QSize PageSize() const {
    const int width = FPageData ? FPageData->Width : FOwner.FPrinter.PageWidth();
    const int length = FPageData ? FPageData->Length : FOwner.FPrinter.PageLength();
    return {static_cast<int>(width * Scale()), static_cast<int>(length * Scale())};
  }
  void Resize() {
    const QSize page = PageSize();
    resize(page.width() + 2 * kDesk, page.height() + 2 * kDesk);
    update();
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    const QSize page = PageSize();
    const QRect paper(kDesk, kDesk, page.width(), page.height());
    painter.fillRect(paper.translated(3, 3), QColor(64, 64, 64));
    painter.fillRect(paper, Qt::white);
    if (!FPageData) return;
    painter.setClipRect(paper);
    painter.translate(kDesk, kDesk);
    PaintPage(*FPageData, painter, Scale());
  }

 private:
  static constexpr int kDesk = 12;
  TBRStandardPreview& FOwner;
  std::optional<TBRDisplayPage> FPageData;
};

namespace {

// One report generates at a time: reports walk the program's shared datasets.
bool gRunning = false;

}  // namespace

TBRStandardPreview::TBRStandardPreview(TBRPrinter& printer, QWidget* parent) : QDialog(parent), FPrinter(printer) {
  setObjectName(QStringLiteral("BRStandardPreview"));
  setWindowTitle(QStringLiteral(" Nyomtatási kép"));
  setWindowFlag(Qt::WindowMaximizeButtonHint, true);
  resize(1120, 820);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  FToolBar = new QToolBar(this);
  FToolBar->setObjectName(QStringLiteral("ToolBar"));
  layout->addWidget(FToolBar);

  AddAction("ZoomFit", QStringLiteral("Egész oldal"), QStringLiteral("Egész oldal|A teljes oldal látható"), [this] { ZoomFit(); });
  AddAction("ZoomToWidth", QStringLiteral("Oldalszélesség"), QStringLiteral("Oldalszélesség|Az oldal kitölti az ablak szélességét"),
            [this] { ZoomToWidth(); });
  AddAction("Zoom100", QStringLiteral("100%"), QStringLiteral("100%|Természetes méret"), [this] { SetZoomPercent(100); });
  // The zoom pop-up: 50 % to 200 % in steps of 10.
  auto* zoomMenu = new QMenu(this);
  zoomMenu->setObjectName(QStringLiteral("ZoomMenu"));
  for (int percent = 50; percent <= 200; percent += 10)
    zoomMenu->addAction(QStringLiteral("%1%").arg(percent), this, [this, percent] { SetZoomPercent(percent); });
  auto* zoomButton = new QToolButton(this);
  zoomButton->setObjectName(QStringLiteral("ZoomButton"));
  zoomButton->setText(QStringLiteral("Nagyítás"));
  zoomButton->setToolTip(QStringLiteral("Nagyítás beállítása"));
  zoomButton->setMenu(zoomMenu);
  zoomButton->setPopupMode(QToolButton::InstantPopup);
  FToolBar->addWidget(zoomButton);
  FToolBar->addSeparator();
  AddAction("FirstPage", QStringLiteral("Első"), QStringLiteral("Első oldal"), [this] { First(); });
  AddAction("PreviousPage", QStringLiteral("Előző"), QStringLiteral("Előző oldal"), [this] { Prior(); });
  FPageEdit = new QSpinBox(this);
  FPageEdit->setObjectName(QStringLiteral("PageNumberEdit"));
  FPageEdit->setToolTip(QStringLiteral("Ugrás oldalra"));
  FPageEdit->setRange(0, 0);
  FPageEdit->setKeyboardTracking(false);
  FToolBar->addWidget(FPageEdit);
  connect(FPageEdit, &QSpinBox::valueChanged, this, [this](int n) {
    if (n >= 1 && n != FPage) ShowPage(n);
  });
  AddAction("nextPage", QStringLiteral("Következő"), QStringLiteral("Következő oldal"), [this] { Next(); });
  AddAction("LastPage", QStringLiteral("Utolsó"), QStringLiteral("Utolsó oldal"), [this] { Last(); });
  FToolBar->addSeparator();
  AddAction("FindButton", QStringLiteral("Keresés"), QStringLiteral("Szöveg keresése"), [this] {
    FSearchEdit->setFocus();
    FindText(FSearchEdit->text());
  });
  AddAction("Print", QStringLiteral("Nyomtatás"), QStringLiteral("Nyomtatás|A lista nyomtatása"), [this] { PrintCommand(); });
  AddAction("PdfExport", QStringLiteral("PDF"), QStringLiteral("Mentés PDF-be|A lista mentése PDF állományba"),
            [this] { PdfCommand(); });
  AddAction("SaveReport", QStringLiteral("Mentés"), QStringLiteral("Lista mentése"), [this] { SaveCommand(); });
  AddAction("LoadReport", QStringLiteral("Betöltés"), QStringLiteral("Lista betöltése"), [this] { LoadCommand(); });
  FToolBar->addSeparator();
  AddAction("CancelButton", QStringLiteral("Megszakítás"), QStringLiteral("Listázás megszakítása"), [this] { CancelCommand(); });
  AddAction("ExitButton", QStringLiteral("&Bezárás"), QStringLiteral("Nyomtatási kép bezárása"), [this] { close(); });

  FScroll = new QScrollArea(this);
  FScroll->setObjectName(QStringLiteral("PageScroll"));
  FScroll->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
  FScroll->setBackgroundRole(QPalette::Dark);
  FView = new TBRPageView(*this);
  FScroll->setWidget(FView);
  FScroll->installEventFilter(this);
  FScroll->viewport()->installEventFilter(this);
  // Side panel: searching the pages' text, the hits listed by page.
  auto* body = new QSplitter(this);
  auto* side = new QWidget(body);
  auto* sideLayout = new QVBoxLayout(side);
  sideLayout->setContentsMargins(4, 4, 4, 4);
  sideLayout->addWidget(new QLabel(QStringLiteral("Keresett szöveg:"), side));
  FSearchEdit = new QLineEdit(side);
  FSearchEdit->setObjectName(QStringLiteral("SearchEdit"));
  sideLayout->addWidget(FSearchEdit);
  FHits = new QListWidget(side);
  FHits->setObjectName(QStringLiteral("SearchResult"));
  sideLayout->addWidget(FHits, 1);
  connect(FSearchEdit, &QLineEdit::returnPressed, this, [this] { FindText(FSearchEdit->text()); });
  connect(FHits, &QListWidget::itemActivated, this, [this](QListWidgetItem* item) { ShowPage(item->data(Qt::UserRole).toInt()); });
  body->addWidget(side);
  body->addWidget(FScroll);
  body->setStretchFactor(1, 1);
  body->setSizes({180, 720});
  layout->addWidget(body, 1);

  auto* status = new QStatusBar(this);
  FStatus = new QLabel(status);
  FStatus->setObjectName(QStringLiteral("StatusLabel"));
  status->addWidget(FStatus, 1);
  layout->addWidget(status);

  FPrinter.OnPageAdded = nullptr;
  UpdateState();
  if (PageCount() > 0) ShowPage(1);
}

TBRStandardPreview::~TBRStandardPreview() = default;

QAction* TBRStandardPreview::AddAction(const char* name, const QString& text, const QString& hint,
                                       const std::function<void()>& slot) {
  auto* action = new QAction(text, this);
  action->setObjectName(QString::fromLatin1(name));
  // Hints are "short|long": the tool tip shows the short part, the status tip the long one.
  const qsizetype bar = hint.indexOf(QLatin1Char('|'));
  action->setToolTip(bar < 0 ? hint : hint.left(bar));
  action->setStatusTip(bar < 0 ? hint : hint.mid(bar + 1));
  connect(action, &QAction::triggered, this, [slot] { slot(); });
  FToolBar->addAction(action);
  return action;
}

QWidget* TBRStandardPreview::PageView() const { return FView; }

int TBRStandardPreview::PageCount() const { return FPrinter.PageCount(); }

QString TBRStandardPreview::StatusText(int page, int count) {
  return page < 1 ? QStringLiteral("Nincs oldal") : QStringLiteral("%1. oldal / %2").arg(page).arg(count);
}

void TBRStandardPreview::ShowPage(int n) {
  const int count = PageCount();
  if (count == 0) {
    FPage = 0;
    FView->SetPage(std::nullopt);
  } else {
    FPage = std::clamp(n, 1, count);
    FView->SetPage(FPrinter.GetPage(FPage));
  }
  FScroll->verticalScrollBar()->setValue(0);
  UpdateState();
}

void TBRStandardPreview::PagesAdded(int count) {
  // The first page shows as soon as it is stored; later ones only grow the count.
  if (FPage == 0 && count > 0) ShowPage(1);
  UpdateState();
  emit PageCountChanged(count);
}

void TBRStandardPreview::Progress(int percent) {
  if (percent == FProgress) return;
  FProgress = percent;
  UpdateState();
}

void TBRStandardPreview::UpdateState() {
  const int count = PageCount();
  QString text = StatusText(FPage, count);
  if (FGenerating) text += QStringLiteral("   Készül: %1%").arg(std::max(FProgress, 0));
  FStatus->setText(text);
  {
    const QSignalBlocker block(FPageEdit);
    FPageEdit->setRange(count > 0 ? 1 : 0, count);
    FPageEdit->setValue(FPage);
  }
  const auto enable = [this](const char* name, bool on) {
    if (auto* a = findChild<QAction*>(QString::fromLatin1(name))) a->setEnabled(on);
  };
  enable("FirstPage", FPage > 1);
  enable("PreviousPage", FPage > 1);
  enable("nextPage", FPage < count);
  enable("LastPage", FPage < count);
  enable("Print", !FGenerating && count > 0);
  enable("PdfExport", !FGenerating && count > 0);
  enable("SaveReport", !FGenerating && count > 0);
  enable("LoadReport", !FGenerating);
  enable("CancelButton", FGenerating);
}

void TBRStandardPreview::SetGenerating(bool value) {
  FGenerating = value;
  FProgress = value ? 0 : -1;
  UpdateState();
}

void TBRStandardPreview::ApplyZoom() {
  const QSize viewport = FScroll->viewport()->size();
  const double natural = FView->logicalDpiX() / 254.0;
  const int width = FPrinter.PageWidth() > 0 ? FPrinter.PageWidth() : 2100;
  const int length = FPrinter.PageLength() > 0 ? FPrinter.PageLength() : 2970;
  const double margin = 2 * 12 + 4;
  if (FZoomMode == TZoomMode::zmWidth) {
    // A page as wide as the view is taller than it: leave room for the vertical scroll bar.
    const int bar = FScroll->verticalScrollBar()->isVisible() ? 0 : style()->pixelMetric(QStyle::PM_ScrollBarExtent);
    FZoom = std::max(0.05, (viewport.width() - bar - margin) / (width * natural));
  }
  else if (FZoomMode == TZoomMode::zmFit)
    FZoom = std::max(0.05, std::min((viewport.width() - margin) / (width * natural), (viewport.height() - margin) / (length * natural)));
  FView->Resize();
}

void TBRStandardPreview::ZoomFit() {
  FZoomMode = TZoomMode::zmFit;
  ApplyZoom();
}

void TBRStandardPreview::ZoomToWidth() {
  FZoomMode = TZoomMode::zmWidth;
  ApplyZoom();
}

void TBRStandardPreview::SetZoomPercent(int percent) {
  FZoomMode = TZoomMode::zmPercent;
  FZoom = std::clamp(percent, 10, 400) / 100.0;
  ApplyZoom();
}

void TBRStandardPreview::resizeEvent(QResizeEvent* event) {
  QDialog::resizeEvent(event);
  ApplyZoom();
}

int TBRStandardPreview::FindText(const QString& text) {
  FHits->clear();
  if (text.isEmpty()) return 0;
  FSearchEdit->setText(text);
  int hits = 0;
  for (int n = 1; n <= PageCount(); ++n) {
    const TBRDisplayPage page = FPrinter.GetPage(n);
    for (const TBRDrawCommand* run : page.Texts())
      if (run->Text.contains(text, Qt::CaseInsensitive)) {
        auto* item = new QListWidgetItem(QStringLiteral("%1. oldal: %2").arg(n).arg(run->Text), FHits);
        item->setData(Qt::UserRole, n);
        ++hits;
      }
  }
  if (hits > 0) ShowPage(FHits->item(0)->data(Qt::UserRole).toInt());
  return hits;
}

void TBRStandardPreview::First() { ShowPage(1); }
void TBRStandardPreview::Prior() { ShowPage(FPage - 1); }
void TBRStandardPreview::Next() { ShowPage(FPage + 1); }
void TBRStandardPreview::Last() { ShowPage(PageCount()); }

void TBRStandardPreview::CancelCommand() {
  if (FGenerating && OnCancel) OnCancel();
}

bool TBRStandardPreview::HandleKey(QKeyEvent* event) {
  const bool ctrl = event->modifiers() & Qt::ControlModifier;
  QScrollBar* bar = FScroll->verticalScrollBar();
  switch (event->key()) {
    case Qt::Key_PageUp:
      ctrl ? First() : Prior();
      return true;
    case Qt::Key_PageDown:
      ctrl ? Last() : Next();
      return true;
    case Qt::Key_Home:
      First();
      return true;
    case Qt::Key_End:
      Last();
      return true;
    case Qt::Key_Up:
      if (bar->value() == bar->minimum() && FPage > 1) {
        Prior();
        bar->setValue(bar->maximum());
      } else {
        bar->triggerAction(QAbstractSlider::SliderSingleStepSub);
      }
      return true;
    case Qt::Key_Down:
      if (bar->value() == bar->maximum() && FPage < PageCount()) {
        Next();
      } else {
        bar->triggerAction(QAbstractSlider::SliderSingleStepAdd);
      }
      return true;
    default:
      return false;
  }
}

void TBRStandardPreview::keyPressEvent(QKeyEvent* event) {
  if (!HandleKey(event)) QDialog::keyPressEvent(event);
}

bool TBRStandardPreview::eventFilter(QObject* watched, QEvent* event) {
  // The scroll area would take the page keys for itself.
  if (event->type() == QEvent::KeyPress && HandleKey(static_cast<QKeyEvent*>(event))) return true;
  return QDialog::eventFilter(watched, event);
}

void TBRStandardPreview::done(int result) {
  if (FGenerating && OnCancel) OnCancel();
  QDialog::done(result);
}

void TBRStandardPreview::closeEvent(QCloseEvent* event) {
  if (FGenerating && OnCancel) OnCancel();
  QDialog::closeEvent(event);
}

int TBRStandardPreview::PrintTo(QPrinter& printer) {
  int first = 0;
  int last = 0;
  if (printer.printRange() == QPrinter::PageRange) {
    first = printer.fromPage();
    last = printer.toPage();
  }
  const int count = (last > 0 ? std::min(last, PageCount()) : PageCount()) - std::max(first, 1) + 1;
  QProgressDialog progress(QStringLiteral("Nyomtatás folyamatban..."), QStringLiteral("Mégsem"), 0, std::max(count, 1), this);
  progress.setWindowTitle(QStringLiteral(" Nyomtatás"));
  progress.setMinimumDuration(500);
  int done = 0;
  const int printed = FPrinter.Print(printer, first, last, [&](int) {
    progress.setValue(done++);
    QCoreApplication::processEvents();
    return progress.wasCanceled();
  });
  progress.reset();
  return printed;
}

void TBRStandardPreview::PrintCommand() {
  if (FGenerating || PageCount() == 0) return;
  QPrinter printer(QPrinter::HighResolution);
  printer.setDocName(FPrinter.Title());
  printer.setCopyCount(std::max(1, FPrinter.PrinterSettings.Copies));
  if (FPrinter.PrinterSettings.FirstPage > 0 || FPrinter.PrinterSettings.LastPage > 0) {
    printer.setPrintRange(QPrinter::PageRange);
    printer.setFromTo(std::max(1, FPrinter.PrinterSettings.FirstPage),
                      FPrinter.PrinterSettings.LastPage > 0 ? FPrinter.PrinterSettings.LastPage : PageCount());
  }
  QPrintDialog dialog(&printer, this);
  dialog.setWindowTitle(QStringLiteral(" Nyomtatás"));
  dialog.setMinMax(1, PageCount());
  dialog.setOption(QAbstractPrintDialog::PrintPageRange, true);
  if (dialog.exec() != QDialog::Accepted) return;
  PrintTo(printer);
}

bool TBRStandardPreview::ExportPdf(const QString& fileName, QString* error) {
  QPdfWriter pdf(fileName);
  pdf.setTitle(FPrinter.Title());
  pdf.setCreator(QStringLiteral("Vidora"));
  pdf.setResolution(600);
  pdf.setPageMargins(QMarginsF(0, 0, 0, 0));
  try {
    FPrinter.Print(pdf);
  } catch (const std::exception& e) {
    if (error) *error = QString::fromStdString(e.what());
    return false;
  }
  return true;
}

void TBRStandardPreview::PdfCommand() {
  if (FGenerating || PageCount() == 0) return;
  const QString file = QFileDialog::getSaveFileName(this, QStringLiteral(" Mentés PDF-be"), QString(),
                                                    QStringLiteral("PDF állomány (*.pdf)"));
  if (file.isEmpty()) return;
  QString error;
  if (!ExportPdf(file, &error))
    QMessageBox::warning(this, QStringLiteral("Hiba történt:"), QStringLiteral("A PDF állomány nem írható: %1").arg(error));
}

void TBRStandardPreview::SaveCommand() {
  if (FGenerating || PageCount() == 0) return;
  const QString file = QFileDialog::getSaveFileName(this, QStringLiteral(" Lista mentése"), QString(),
                                                    QStringLiteral("Vidora lista (*.vrp)"));
  if (file.isEmpty()) return;
  try {
    FPrinter.Save(file);
  } catch (const std::exception& e) {
    QMessageBox::warning(this, QStringLiteral("Hiba történt:"), QString::fromStdString(e.what()));
  }
}

void TBRStandardPreview::LoadCommand() {
  if (FGenerating) return;
  const QString file = QFileDialog::getOpenFileName(this, QStringLiteral(" Lista betöltése"), QString(),
                                                    QStringLiteral("Vidora lista (*.vrp)"));
  if (file.isEmpty()) return;
  try {
    FPrinter.Load(file);
  } catch (const std::exception& e) {
    QMessageBox::warning(this, QStringLiteral("Hiba történt:"), QString::fromStdString(e.what()));
    return;
  }
  FPage = 0;
  ShowPage(1);
  ApplyZoom();
}

bool TBRStandardPreview::Busy() noexcept { return gRunning; }

namespace {

// While a report generates: a window other than the preview asked to close, or the program
// to quit. The request waits until the generator has unwound; the generation stops.
class TDeferredClose : public QObject {
 public:
  TDeferredClose(QWidget* preview, std::function<void()> cancel) : FPreview(preview), FCancel(std::move(cancel)) {
    qApp->installEventFilter(this);
  }
  ~TDeferredClose() override { qApp->removeEventFilter(this); }

  // Replays what was held back.
  void Replay() {
    qApp->removeEventFilter(this);
    for (const QPointer<QWidget>& window : FClosing)
      if (window) QMetaObject::invokeMethod(window, "close", Qt::QueuedConnection);
    if (FQuit) QMetaObject::invokeMethod(qApp, &QCoreApplication::quit, Qt::QueuedConnection);
  }
  bool Quitting() const noexcept { return FQuit || !FClosing.empty(); }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Quit && watched == qApp) {
      FQuit = true;
      FCancel();
      return true;
    }
    if (event->type() == QEvent::Close && watched->isWidgetType()) {
      auto* widget = static_cast<QWidget*>(watched);
      if (widget->isWindow() && widget != FPreview && !(FPreview && FPreview->isAncestorOf(widget))) {
        FClosing.push_back(widget);
        FCancel();
        event->ignore();
        return true;
      }
    }
    return false;
  }

 private:
  QPointer<QWidget> FPreview;
  std::function<void()> FCancel;
  std::vector<QPointer<QWidget>> FClosing;
  bool FQuit = false;
};

}  // namespace

bool TBRStandardPreview::Run(TCustomBandRep& report, QWidget* parent, const std::function<void(TBRStandardPreview&)>& onShown) {
  if (gRunning) {
    QApplication::beep();
    return false;
  }
  gRunning = true;
  struct TRelease {
    ~TRelease() { gRunning = false; }
  } release;

  TBRPrinter printer;
  printer.Compression = report.Options.Compression;
  printer.PrinterSettings.Copies = report.PrinterSettings.Copies;
  printer.PrinterSettings.Duplex = report.PrinterSettings.Duplex;
  printer.PrinterSettings.FirstPage = report.PrinterSettings.FirstPage;
  printer.PrinterSettings.LastPage = report.PrinterSettings.LastPage;

  auto owned = std::make_unique<TBRStandardPreview>(printer, parent);
  QPointer<TBRStandardPreview> window = owned.get();
  window->setWindowModality(Qt::ApplicationModal);
  window->setWindowTitle(QStringLiteral(" Nyomtatási kép") +
                         (report.ReportTitle.isEmpty() ? QString() : QStringLiteral(" – ") + report.ReportTitle));
  printer.OnPageAdded = [window](int count) {
    if (window) window->PagesAdded(count);
  };
  printer.OnProgress = [window](int percent) {
    if (window) window->Progress(percent);
  };
  window->OnCancel = [&report] { report.Cancel(); };

  TDeferredClose deferred(window, [&report] { report.Cancel(); });
  window->SetGenerating(true);
  window->show();
  window->ApplyZoom();
  if (onShown) onShown(*window);

  const auto finish = [&] {
    printer.OnPageAdded = nullptr;
    printer.OnProgress = nullptr;
    if (!window) (void)owned.release();  // a parent took it down with itself
    if (window) {
      window->OnCancel = nullptr;
      window->SetGenerating(false);
    }
  };
  try {
    report.Generate(printer);
  } catch (...) {
    finish();
    deferred.Replay();
    throw;
  }
  finish();
  const bool stopped = report.Cancelled();
  deferred.Replay();
  // The user sees the pages until closing the window, unless the window is gone or the
  // program is ending.
  if (window && window->isVisible() && !deferred.Quitting() && !stopped) window->exec();
  if (!window) (void)owned.release();
  return !stopped;
}

}  // namespace br
