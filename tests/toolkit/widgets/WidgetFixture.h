// Shared pieces of the widget tests: a large in-memory dataset with a data source, and a
// collector of the model tester's complaints.
#pragma once

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QString>
#include <QStringList>
#include <QTest>
#include <memory>

#include "db/TMemDataSet.h"

namespace testwidgets {

// Columns ID (integer), NAME (string 30), NOTE (memo); row i: ID i, NAME "Name <i>", and a
// note on every tenth row ("Note <i>").
inline void FillRows(tk::TMemDataSet& ds, int rows) {
  ds.Columns().Add(u"ID", tk::TFieldType::dtInteger, 0, true);
  ds.Columns().Add(u"NAME", tk::TFieldType::dtString, 30);
  ds.Columns().Add(u"NOTE", tk::TFieldType::dtMemo);
  for (int i = 1; i <= rows; ++i) {
    tk::TFieldValue note;
    if (i % 10 == 0) {
      const std::string text = "Note " + std::to_string(i);
      note = tk::TBytes(text.begin(), text.end());
    }
    ds.AppendRow({std::int64_t{i}, (QStringLiteral("Name ") + QString::number(i)).toStdU16String(), note});
  }
}

// Types text as key presses of its characters (any script: the key code is only a carrier).
inline void TypeText(QWidget* widget, const QString& text) {
  for (const QChar c : text) QTest::sendKeyEvent(QTest::Click, widget, Qt::Key_A, QString(c), Qt::NoModifier);
}

// Collects what QAbstractItemModelTester reports (it warns in its own logging category).
class TModelTesterLog {
 public:
  TModelTesterLog() {
    Current() = this;
    FPrevious = qInstallMessageHandler([](QtMsgType type, const QMessageLogContext& context, const QString& text) {
      if (context.category && QByteArray(context.category).startsWith("qt.modeltest") && Current())
        Current()->FMessages.push_back(text);
      else if (type == QtFatalMsg)
        abort();
    });
  }
  ~TModelTesterLog() {
    qInstallMessageHandler(FPrevious);
    Current() = nullptr;
  }
  TModelTesterLog(const TModelTesterLog&) = delete;
  TModelTesterLog& operator=(const TModelTesterLog&) = delete;
  const QStringList& Messages() const { return FMessages; }

 private:
  static TModelTesterLog*& Current() {
    static TModelTesterLog* current = nullptr;
    return current;
  }
  QStringList FMessages;
  QtMessageHandler FPrevious = nullptr;
};

}  // namespace testwidgets
