// The settlement register's single instances, created at start in a fixed order and alive
// until the end: the windows, the data module, the reports and the statistics windows.
// Every window reaches the others through this object. GUI thread only.
#pragma once

#include <QString>
#include <QStringList>
#include <memory>

namespace vidora {

class IShell;
class TForm1;
class TForm2;
class TForm5;
class TForm6;
class TForm7;
class TForm8;
class TDataModule9;
class TBandReport10;
class TBandReport11;
class TBandReport12;
class TBandReport13;
class TForm14;
class TForm15;
class TForm16;
class TForm17;
class TForm18;

class TVidora {
 public:
  explicit TVidora(IShell& shell);
  TVidora(const TVidora&) = delete;
  TVidora& operator=(const TVidora&) = delete;
  virtual ~TVidora();

  // Creates every instance in the program's order; the first, Form1, is the main window.
  void CreateInstances();

  // Each instance reports its construction here, so the order can be checked.
  void Created(const QString& name) { FCreationOrder << name; }
  const QStringList& CreationOrder() const noexcept { return FCreationOrder; }

  // The one way the program ends: the message loop stops after the current message, without
  // asking any window to close (the main window's close question is not asked again). A
  // second request changes nothing.
  virtual void Terminate();
  bool TerminateRequested() const noexcept { return FTerminateRequested; }

  IShell& Shell() const noexcept { return FShell; }

  TForm1* Form1() const noexcept { return FForm1.get(); }
  TForm2* Form2() const noexcept { return FForm2.get(); }
  TForm5* Form5() const noexcept { return FForm5.get(); }
  TForm6* Form6() const noexcept { return FForm6.get(); }
  TForm7* Form7() const noexcept { return FForm7.get(); }
  TForm8* Form8() const noexcept { return FForm8.get(); }
  TDataModule9* DataModule9() const noexcept { return FDataModule9.get(); }
  TBandReport10* BandReport10() const noexcept { return FBandReport10.get(); }
  TBandReport11* BandReport11() const noexcept { return FBandReport11.get(); }
  TBandReport12* BandReport12() const noexcept { return FBandReport12.get(); }
  TBandReport13* BandReport13() const noexcept { return FBandReport13.get(); }
  TForm14* Form14() const noexcept { return FForm14.get(); }
  TForm15* Form15() const noexcept { return FForm15.get(); }
  TForm16* Form16() const noexcept { return FForm16.get(); }
  TForm17* Form17() const noexcept { return FForm17.get(); }
  TForm18* Form18() const noexcept { return FForm18.get(); }

 private:
  void DestroyInstances() noexcept;

  IShell& FShell;
  QStringList FCreationOrder;
  bool FTerminateRequested = false;
  // Declared in creation order; released in reverse.
  std::unique_ptr<TForm1> FForm1;
  std::unique_ptr<TForm2> FForm2;
  std::unique_ptr<TForm5> FForm5;
  std::unique_ptr<TForm6> FForm6;
  std::unique_ptr<TForm7> FForm7;
  std::unique_ptr<TForm8> FForm8;
  std::unique_ptr<TDataModule9> FDataModule9;
  std::unique_ptr<TBandReport10> FBandReport10;
  std::unique_ptr<TBandReport11> FBandReport11;
  std::unique_ptr<TBandReport12> FBandReport12;
  std::unique_ptr<TBandReport13> FBandReport13;
  std::unique_ptr<TForm14> FForm14;
  std::unique_ptr<TForm15> FForm15;
  std::unique_ptr<TForm16> FForm16;
  std::unique_ptr<TForm17> FForm17;
  std::unique_ptr<TForm18> FForm18;
};

}  // namespace vidora
