#include "DBControls.h"

#include <QKeyEvent>

#include "MessageBoxes.h"

namespace tk {

namespace {

// The key changes the text (typing, deleting, pasting, a new line).
bool ChangesText(QKeyEvent* event) {
  for (QKeySequence::StandardKey key : {QKeySequence::Paste, QKeySequence::Cut, QKeySequence::Delete,
                                        QKeySequence::Undo, QKeySequence::Redo, QKeySequence::DeleteEndOfWord,
                                        QKeySequence::DeleteStartOfWord, QKeySequence::DeleteEndOfLine})
    if (event->matches(key)) return true;
  switch (event->key()) {
    case Qt::Key_Backspace:
    case Qt::Key_Delete:
    case Qt::Key_Return:
    case Qt::Key_Enter:
      return true;
    default:
      break;
  }
  const QString text = event->text();
  return !text.isEmpty() && text.at(0).isPrint() && !(event->modifiers() & Qt::ControlModifier);
}

// A key the field control handles itself instead of its text editor: Esc restores the
// field's value, and a key that would change the text is swallowed when the dataset refuses
// to enter edit state. Errors go to the report and swallow the key too.
bool FieldControlTakesKey(QWidget* control, TFieldDataLink& link, QKeyEvent* event, bool readOnly) {
  bool taken = false;
  const bool ok = Guarded(control, [&] {
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
      link.Reset();
      taken = true;
      return;
    }
    if (!readOnly && ChangesText(event) && !link.Edit()) taken = true;
  });
  if (!ok || taken) event->accept();
  return !ok || taken;
}

Qt::Alignment ToQt(const TField* field) {
  if (!field) return Qt::AlignLeft | Qt::AlignVCenter;
  switch (field->Alignment()) {
    case TAlignment::taRightJustify:
      return Qt::AlignRight | Qt::AlignVCenter;
    case TAlignment::taCenter:
      return Qt::AlignHCenter | Qt::AlignVCenter;
    case TAlignment::taLeftJustify:
      break;
  }
  return Qt::AlignLeft | Qt::AlignVCenter;
}

}  // namespace

// ---------------------------------------------------------------- TDBMemo

TDBMemo::TDBMemo(QWidget* parent) : QPlainTextEdit(parent) {
  FLink.OnDataChange = [this] { LoadMemo(); };
  FLink.OnUpdateData = [this] { FLink.Field()->SetAsString(toPlainText().toStdU16String()); };
  connect(this, &QPlainTextEdit::textChanged, this, [this] { Guarded(this, [this] { TextChanged(); }); });
}

void TDBMemo::SetReadOnly(bool value) {
  setReadOnly(value);
  FLink.SetReadOnly(value);
}

void TDBMemo::LoadMemo() {
  const QString text = FLink.Field() ? QString::fromStdU16String(FLink.Field()->AsString()) : QString();
  // The same text stays as it is, so that the caret keeps its place when editing starts.
  if (text == toPlainText()) return;
  FLoading = true;
  struct TDone {
    bool& Flag;
    ~TDone() { Flag = false; }
  } done{FLoading};
  setPlainText(text);
}

void TDBMemo::TextChanged() {
  if (FLoading) return;
  if (!FLink.Editing()) {
    // A change that did not come through the keys checked below (a context menu, a drop):
    // editing starts now, or the field's text comes back.
    const QString typed = toPlainText();
    if (!FLink.Edit()) {
      LoadMemo();
      return;
    }
    FLoading = true;
    setPlainText(typed);
    FLoading = false;
  }
  FLink.Modified();
}

void TDBMemo::keyPressEvent(QKeyEvent* event) {
  if (FieldControlTakesKey(this, FLink, event, isReadOnly())) return;
  QPlainTextEdit::keyPressEvent(event);
}

void TDBMemo::insertFromMimeData(const QMimeData* source) {
  if (!Guarded(this, [&] {
        if (!FLink.Edit()) Abort();
      }))
    return;
  QPlainTextEdit::insertFromMimeData(source);
}

void TDBMemo::focusOutEvent(QFocusEvent* event) {
  QPlainTextEdit::focusOutEvent(event);
  // The error box takes the focus too: it must not start a second write.
  if (FExiting || !FLink.IsModified()) return;
  FExiting = true;
  Guarded(this, [this] { FLink.UpdateRecord(); });
  FExiting = false;
}

// ---------------------------------------------------------------- TDBEdit

TDBEdit::TDBEdit(QWidget* parent) : QLineEdit(parent) {
  FLink.OnDataChange = [this] { DataChange(); };
  FLink.OnEditingChange = [this] { DataChange(); };
  FLink.OnUpdateData = [this] { FLink.Field()->SetText(text().toStdU16String()); };
  connect(this, &QLineEdit::textEdited, this, [this] { Guarded(this, [this] { TextEdited(); }); });
}

void TDBEdit::SetReadOnly(bool value) {
  setReadOnly(value);
  FLink.SetReadOnly(value);
}

void TDBEdit::DataChange() {
  const TField* field = FLink.Field();
  const bool stringKind = field && (field->DataType() == TFieldType::dtString ||
                                    field->DataType() == TFieldType::dtWideString);
  // Setting the limit re-sets the text and loses the selection: only when it changes.
  const int limit = stringKind && field->Size() > 0 ? field->Size() : 32767;
  if (maxLength() != limit) setMaxLength(limit);
  if (alignment() != ToQt(field)) setAlignment(ToQt(field));
  const std::u16string text = !field ? std::u16string() : FLink.Editing() ? field->Text() : field->DisplayText();
  if (QString::fromStdU16String(text) != this->text()) setText(QString::fromStdU16String(text));
}

void TDBEdit::TextEdited() {
  if (!FLink.Editing()) {
    const QString typed = text();
    if (!FLink.Edit()) {
      DataChange();
      return;
    }
    setText(typed);
  }
  FLink.Modified();
}

void TDBEdit::keyPressEvent(QKeyEvent* event) {
  if (FieldControlTakesKey(this, FLink, event, isReadOnly())) return;
  QLineEdit::keyPressEvent(event);
}

void TDBEdit::focusOutEvent(QFocusEvent* event) {
  QLineEdit::focusOutEvent(event);
  if (FExiting || !FLink.IsModified()) return;
  FExiting = true;
  if (!Guarded(this, [this] { FLink.UpdateRecord(); })) selectAll();
  FExiting = false;
}

// ---------------------------------------------------------------- TDBLabel

TDBLabel::TDBLabel(QWidget* parent) : QLabel(parent) {
  FLink.OnDataChange = [this] {
    const TField* field = FLink.Field();
    setText(field ? QString::fromStdU16String(field->DisplayText()) : QString());
    setAlignment(ToQt(field));
  };
}

}  // namespace tk
