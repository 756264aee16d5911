// A second Vidora program for the tests of two programs on one database: the whole program
// (every window, the data module, the tables opened by the main window) started offscreen in
// the working directory, driven line by line from its standard input. It changes settlements
// through the data module's Table1 as the maintenance window does, and answers each line with
// "ok …" or "error <the text the program would show>".
//
//   population <name> <value>   finds the settlement, edits its population, posts
//   edit <name>                 finds the settlement and keeps it in edit
//   post                        posts the pending edit
//   delete <name>               finds the settlement and deletes it (the question answered Yes)
//   show <name>                 refreshes, finds the settlement: "ok <population>" or "error missing"
//   quit                        ends the program
#include <QApplication>
#include <QMessageBox>
#include <iostream>
#include <string>

#include "Shell.h"
#include "Unit1.h"
#include "Unit9.h"
#include "Vidora.h"
#include "widgets/MessageBoxes.h"

namespace {

class TNoShell : public vidora::IShell {
 public:
  bool OpenDocument(const QString&) override { return false; }
  bool OpenAddress(const QString&) override { return false; }
  bool StartProgram(const QString&, const QStringList&) override { return false; }
};

std::u16string U16(const std::string& utf8) { return QString::fromStdString(utf8).toStdU16String(); }

std::string Run(vdbds::TVdbTable& table, const std::string& command, const std::string& name, long long value) {
  auto find = [&] {
    if (!table.FindKey({U16(name)})) throw std::runtime_error("missing");
  };
  if (command == "population") {
    find();
    table.Edit();
    table.FieldByName(u"NEPESS").SetAsInteger(value);
    table.Post();
  } else if (command == "edit") {
    find();
    table.Edit();
  } else if (command == "post") {
    table.Post();
  } else if (command == "delete") {
    find();
    table.Delete();
  } else if (command == "show") {
    table.Refresh();
    find();
    return "ok " + std::to_string(table.FieldByName(u"NEPESS").AsInteger());
  } else {
    return "error unknown command";
  }
  return "ok";
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  QCoreApplication::setApplicationName(QStringLiteral("Vidora"));
  QApplication::setQuitOnLastWindowClosed(false);
  // The delete question is answered Yes; any other box (an error report) is noted.
  std::string lastBox;
  tk::SetMessageBoxAnswerer([&](const tk::TMessageBoxRequest& request) {
    if (request.Text == QStringLiteral("Biztosan törölhető ?")) return QMessageBox::Yes;
    lastBox = request.Text.toStdString();
    return QMessageBox::Ok;
  });
  TNoShell shell;
  vidora::TVidora vidora(shell);
  vidora.CreateInstances();
  vidora.Form1()->show();
  if (vidora.TerminateRequested()) return 1;
  vdbds::TVdbTable& table = vidora.DataModule9()->Table1;
  std::cout << "ready" << std::endl;
  std::string line;
  while (std::getline(std::cin, line)) {
    QCoreApplication::processEvents();
    if (line == "quit") break;
    const std::size_t first = line.find(' ');
    const std::string command = line.substr(0, first);
    std::string name = first == std::string::npos ? std::string() : line.substr(first + 1);
    long long value = 0;
    if (command == "population") {
      const std::size_t last = name.rfind(' ');
      value = std::stoll(name.substr(last + 1));
      name.resize(last);
    }
    std::string answer;
    try {
      answer = Run(table, command, name, value);
    } catch (const tk::EDatabaseError& e) {
      answer = "error " + QString::fromStdU16String(e.Message()).toStdString();
    } catch (const std::exception& e) {
      answer = std::string("error ") + e.what();
    }
    std::cout << answer << std::endl;
  }
  // A pending edit is given up, as the program's close does on "Nem".
  try {
    if (table.State() == tk::TDataSetState::dsEdit) table.Cancel();
  } catch (const std::exception&) {
  }
  return 0;
}
