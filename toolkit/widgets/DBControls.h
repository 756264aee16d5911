// Single-field data controls: a memo (QPlainTextEdit), an edit (QLineEdit) and a label
// (QLabel), each bound to one field of a data source through a field link. The memo and the
// edit show the current record's value, put the dataset into edit state when the user starts
// changing the text, write the text into the field when the record is posted or the control
// loses the focus, and show the field again on Esc. Errors go to the default error report.
// GUI thread only.
#pragma once

#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>

#include "db/TDataSet.h"

namespace tk {

class TDBMemo : public QPlainTextEdit {
  Q_OBJECT
 public:
  explicit TDBMemo(QWidget* parent = nullptr);

  void SetDataSource(TDataSource* source) { FLink.SetDataSource(source); }
  TDataSource* DataSource() const { return FLink.DataSource(); }
  void SetDataField(const QString& name) { FLink.SetFieldName(name.toStdU16String()); }
  QString DataField() const { return QString::fromStdU16String(FLink.FieldName()); }
  void SetReadOnly(bool value);
  TField* Field() const { return FLink.Field(); }

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void insertFromMimeData(const QMimeData* source) override;
  void focusOutEvent(QFocusEvent* event) override;

 private:
  void LoadMemo();
  void TextChanged();
  TFieldDataLink FLink;
  bool FLoading = false;
  bool FExiting = false;
};

class TDBEdit : public QLineEdit {
  Q_OBJECT
 public:
  explicit TDBEdit(QWidget* parent = nullptr);

  void SetDataSource(TDataSource* source) { FLink.SetDataSource(source); }
  TDataSource* DataSource() const { return FLink.DataSource(); }
  void SetDataField(const QString& name) { FLink.SetFieldName(name.toStdU16String()); }
  QString DataField() const { return QString::fromStdU16String(FLink.FieldName()); }
  void SetReadOnly(bool value);
  TField* Field() const { return FLink.Field(); }

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;

 private:
  void DataChange();
  void TextEdited();
  TFieldDataLink FLink;
  bool FExiting = false;
};

class TDBLabel : public QLabel {
  Q_OBJECT
 public:
  explicit TDBLabel(QWidget* parent = nullptr);

  void SetDataSource(TDataSource* source) { FLink.SetDataSource(source); }
  TDataSource* DataSource() const { return FLink.DataSource(); }
  void SetDataField(const QString& name) { FLink.SetFieldName(name.toStdU16String()); }
  QString DataField() const { return QString::fromStdU16String(FLink.FieldName()); }
  TField* Field() const { return FLink.Field(); }

 private:
  TFieldDataLink FLink;
};

}  // namespace tk
