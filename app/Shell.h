// The desktop shell as the program uses it: open a document, start a program. Only success
// or failure is learnt. The seam lets tests see what would have been opened.
#pragma once

#include <QString>
#include <QStringList>

namespace vidora {

class IShell {
 public:
  virtual ~IShell() = default;
  // Opens a document with its associated program; a relative name is looked up in the
  // working directory. False when the document is missing or nothing could open it.
  virtual bool OpenDocument(const QString& name) = 0;
  // Opens an address ("mailto:", "https:").
  virtual bool OpenAddress(const QString& url) = 0;
  // Starts a program (relative to the working directory) with arguments, detached.
  virtual bool StartProgram(const QString& program, const QStringList& arguments) = 0;
};

class TDesktopShell : public IShell {
 public:
  bool OpenDocument(const QString& name) override;
  bool OpenAddress(const QString& url) override;
  bool StartProgram(const QString& program, const QStringList& arguments) override;
};

}  // namespace vidora
