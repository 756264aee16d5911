// The preview window: shows the pages of the page store while the report generator adds
// them, pages and zooms through them, prints them through Qt's print dialog, exports them to
// PDF (text stays text, so the file can be searched), saves and loads the store.
//
// Running a report into the preview (TBRStandardPreview::Run) lets window messages run while
// pages are generated. That makes the program re-entrant, so Run guards it:
//   - closing the preview, or its Cancel, stops the generator at the next record;
//   - closing another window (the main window) or quitting the program meanwhile stops the
//     generator first, then closes that window or quits once the generator has unwound, so no
//     handler runs against a report still walking its dataset;
//   - one report runs at a time: a second Run while one generates is refused (false).
// GUI thread only.
#pragma once

#include <QDialog>
#include <QPointer>
#include <functional>
#include <memory>

#include "BRDisplay.h"

class QAction;
class QLabel;
class QLineEdit;
class QListWidget;
class QPrinter;
class QScrollArea;
class QSpinBox;
class QToolBar;

namespace br {

class TBRPrinter;
class TCustomBandRep;
class TBRPageView;

class TBRStandardPreview : public QDialog {
  Q_OBJECT
 public:
  enum class TZoomMode : unsigned char { zmFit, zmWidth, zmPercent };

  // Shows the pages of `printer`, which must outlive the window.
  explicit TBRStandardPreview(TBRPrinter& printer, QWidget* parent = nullptr);
  ~TBRStandardPreview() override;

  // Generates `report` into a fresh page store and shows it in a new preview window, modal,
  // until the user closes it. `onShown` runs once the window is on screen (tests). False when
  // another report is generating (the call is refused) or the generation was stopped.
  static bool Run(TCustomBandRep& report, QWidget* parent = nullptr,
                  const std::function<void(TBRStandardPreview&)>& onShown = {});
  // True while some report generates into a preview.
  static bool Busy() noexcept;

  int CurrentPage() const noexcept { return FPage; }
  int PageCount() const;
  void ShowPage(int n);
  void ZoomFit();
  void ZoomToWidth();
  void SetZoomPercent(int percent);
  TZoomMode ZoomMode() const noexcept { return FZoomMode; }
  // Screen size of the page (zoom 1 = natural size).
  double Zoom() const noexcept { return FZoom; }
  QWidget* PageView() const;

  // While generating the cancel command is on and closing stops the generation through
  // OnCancel.
  void SetGenerating(bool value);
  bool Generating() const noexcept { return FGenerating; }
  std::function<void()> OnCancel;

  // Prints the pages within the printer's page range (all when it has none). Returns the pages
  // printed.
  int PrintTo(QPrinter& printer);
  // Writes the pages to a PDF file keeping the paper size; false (with the reason in
  // `error`) when the file cannot be written.
  bool ExportPdf(const QString& fileName, QString* error = nullptr);

  // Lists the text runs containing `text` (any case) with their pages in the side panel and
  // shows the first hit's page; returns the number of hits.
  int FindText(const QString& text);

  // The window's own texts.
  static QString StatusText(int page, int count);

 signals:
  void PageCountChanged(int count);

 protected:
  void closeEvent(QCloseEvent* event) override;
  // Esc and the close command end here: during generation they stop it.
  void done(int result) override;
  void keyPressEvent(QKeyEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  friend class TBRPageView;
  QAction* AddAction(const char* name, const QString& text, const QString& hint, const std::function<void()>& slot);
  void PagesAdded(int count);
  void Progress(int percent);
  void UpdateState();
  void ApplyZoom();
  bool HandleKey(QKeyEvent* event);
  void First();
  void Prior();
  void Next();
  void Last();
  void PrintCommand();
  void PdfCommand();
  void SaveCommand();
  void LoadCommand();
  void CancelCommand();

  TBRPrinter& FPrinter;
  QToolBar* FToolBar = nullptr;
  QScrollArea* FScroll = nullptr;
  TBRPageView* FView = nullptr;
  QSpinBox* FPageEdit = nullptr;
  QLabel* FStatus = nullptr;
  QLineEdit* FSearchEdit = nullptr;
  QListWidget* FHits = nullptr;
  int FPage = 0;
  int FProgress = -1;
  TZoomMode FZoomMode = TZoomMode::zmWidth;
  double FZoom = 1.0;
  bool FGenerating = false;
};

}  // namespace br
