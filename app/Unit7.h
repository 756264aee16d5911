// The about window: program, maker, data source and a summary of the system, recomputed at
// every showing. "MS Info" starts the desktop's system-information program where one is
// installed. GUI thread only; showing the window blocks for about half a second while the
// processor speed is measured.
#pragma once

#include <memory>

#include "ModalForm.h"

class QLabel;
class QPushButton;

namespace vidora {

class ISystemInfo;

class TForm7 : public TModalForm {
  Q_OBJECT
 public:
  explicit TForm7(TVidora& app);
  ~TForm7() override;

  // Replaces the source of the system summary (the machine's own by default); the caller keeps
  // `info` alive while the window uses it.
  void SetSystemInfo(ISystemInfo& info) noexcept { FSystemInfo = &info; }

  QLabel* Label13() const noexcept { return FValues[0]; }
  QLabel* Label14() const noexcept { return FValues[1]; }
  QLabel* Label15() const noexcept { return FValues[2]; }
  QLabel* Label16() const noexcept { return FValues[3]; }
  QLabel* Label17() const noexcept { return FValues[4]; }
  QPushButton* MsInfoButton() const noexcept { return FMsInfo; }

  // The maker's addresses the two underlined labels hand to the desktop.
  static QString MailAddress();
  static QString WebAddress();

 protected:
  void showEvent(QShowEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void BuildMakerPanel();
  void BuildSourcePanel();
  void BuildSummaryPanel();
  void BuildButtons();
  void FormShow();
  void MsInfoClick();

  std::unique_ptr<ISystemInfo> FOwnSystemInfo;
  ISystemInfo* FSystemInfo = nullptr;
  QString FInformationProgram;
  QLabel* FAuthor = nullptr;
  QLabel* FMail = nullptr;
  QLabel* FWeb = nullptr;
  QLabel* FValues[5] = {};
  QPushButton* FMsInfo = nullptr;
};

}  // namespace vidora
