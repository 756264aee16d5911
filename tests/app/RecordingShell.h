// A desktop shell that only notes what it was asked to open or start, and answers as told.
#pragma once

#include <QString>
#include <QStringList>
#include <vector>

#include "Shell.h"

namespace apptest {

class TRecordingShell : public vidora::IShell {
 public:
  struct TRequest {
    QString Kind;  // "document", "address" or "program"
    QString Target;
    QStringList Arguments;
  };

  bool OpenDocument(const QString& name) override { return Note({QStringLiteral("document"), name, {}}); }
  bool OpenAddress(const QString& url) override { return Note({QStringLiteral("address"), url, {}}); }
  bool StartProgram(const QString& program, const QStringList& arguments) override {
    return Note({QStringLiteral("program"), program, arguments});
  }

  bool Succeeds = true;
  std::vector<TRequest> Requests;

 private:
  bool Note(TRequest request) {
    Requests.push_back(std::move(request));
    return Succeeds;
  }
};

}  // namespace apptest
