#include "Vidora.h"

#include <QCoreApplication>

#include "Unit1.h"
#include "Unit10.h"
#include "Unit11.h"
#include "Unit12.h"
#include "Unit13.h"
#include "Unit14.h"
#include "Unit15.h"
#include "Unit16.h"
#include "Unit17.h"
#include "Unit18.h"
#include "Unit2.h"
#include "Unit5.h"
#include "Unit6.h"
#include "Unit7.h"
#include "Unit8.h"
#include "Unit9.h"

namespace vidora {

TVidora::TVidora(IShell& shell) : FShell(shell) {}

TVidora::~TVidora() { DestroyInstances(); }

void TVidora::CreateInstances() {
  FForm1 = std::make_unique<TForm1>(*this);
  FForm2 = std::make_unique<TForm2>(*this);
  FForm5 = std::make_unique<TForm5>(*this);
  FForm6 = std::make_unique<TForm6>(*this);
  FForm7 = std::make_unique<TForm7>(*this);
  FForm8 = std::make_unique<TForm8>(*this);
  // After the windows that show its data; they reach it through this object when used.
  FDataModule9 = std::make_unique<TDataModule9>(*this);
  FBandReport10 = std::make_unique<TBandReport10>(*this);
  FBandReport11 = std::make_unique<TBandReport11>(*this);
  FBandReport12 = std::make_unique<TBandReport12>(*this);
  FBandReport13 = std::make_unique<TBandReport13>(*this);
  FForm14 = std::make_unique<TForm14>(*this);
  FForm15 = std::make_unique<TForm15>(*this);
  FForm16 = std::make_unique<TForm16>(*this);
  FForm17 = std::make_unique<TForm17>(*this);
  FForm18 = std::make_unique<TForm18>(*this);
}

void TVidora::DestroyInstances() noexcept {
  FForm18.reset();
  FForm17.reset();
  FForm16.reset();
  FForm15.reset();
  FForm14.reset();
  FBandReport13.reset();
  FBandReport12.reset();
  FBandReport11.reset();
  FBandReport10.reset();
  FDataModule9.reset();
  FForm8.reset();
  FForm7.reset();
  FForm6.reset();
  FForm5.reset();
  FForm2.reset();
  FForm1.reset();
}

void TVidora::Terminate() {
  if (FTerminateRequested) return;
  FTerminateRequested = true;
  // Not quit(): that would first ask every window to close, and so repeat the close question.
  QCoreApplication::exit(0);
}

}  // namespace vidora
