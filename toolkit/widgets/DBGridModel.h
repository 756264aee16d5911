// The grid's table model over a data source: its rows are the dataset's buffer window as the
// grid's data link sees it (never the whole table), its columns the grid's columns. It
// follows the link's notifications and emits exactly the begin/end notifications for the
// rows that come and go, dataChanged for rows whose content changed, and a model reset when
// the columns change (opening, closing, new fields). GUI thread only.
#pragma once

#include <QAbstractTableModel>
#include <QPointer>
#include <QVector>
#include <exception>
#include <functional>

#include "db/TDataSet.h"

namespace tk {

// One grid column: the field it shows, its title and look. Empty or zero values fall back
// to the field's own (display label, display width, alignment).
struct TDBGridColumn {
  QString FieldName;
  QString Title;
  int Width = 0;                     // pixels
  Qt::Alignment Alignment = {};      // of the cells
  Qt::Alignment TitleAlignment = {}; // of the title
};

class TDBGridModel : public QAbstractTableModel {
  Q_OBJECT
 public:
  explicit TDBGridModel(QObject* parent = nullptr);
  ~TDBGridModel() override;

  TDataSource* DataSource() const;
  void SetDataSource(TDataSource* source);
  // Explicit columns; empty = every visible field of the open dataset.
  void SetColumns(const QVector<TDBGridColumn>& columns);
  const QVector<TDBGridColumn>& Columns() const noexcept { return FColumns; }
  TField* FieldAt(int column) const;
  TDataSet* DataSet() const;
  // Rows the grid can show (the link's buffer count).
  void SetVisibleRows(int rows);
  int VisibleRows() const;
  // Row of the dataset's active record in the window (-1 when there is none).
  int ActiveRow() const;
  bool ReadOnly() const noexcept { return FReadOnly; }
  void SetReadOnly(bool value);
  // Where errors of reads and writes are reported (the grid).
  void SetErrorParent(QWidget* parent) { FErrorParent = parent; }
  // Puts the dataset into edit state for the user's typing; false when it may not.
  bool BeginEdit();
  // The grid's way to write an open cell editor into the model (set by the grid).
  void SetCommitEditor(std::function<void()> commit) { FCommitEditor = std::move(commit); }
  // Writes the open cell editor into its field now; a value the field refuses raises here
  // (and the editor stays open), so that posting or leaving the record stops.
  void CommitPendingEdit();
  bool CommitFailed() const noexcept { return static_cast<bool>(FCommitError); }

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role) override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;

 signals:
  // After every notification: the active row, the scroll position may have moved.
  void WindowChanged();

 private:
  class TLink;
  friend class TLink;
  void Relayout();
  void SyncRows();
  void RowChanged(int row);
  QVariant ReadCell(int row, int column, int role) const;

  std::unique_ptr<TLink> FLink;
  QVector<TDBGridColumn> FColumns;
  QVector<TField*> FFields;  // per column; nullptr when missing or closed
  int FRows = 0;
  bool FReadOnly = false;
  mutable bool FReportPending = false;
  std::function<void()> FCommitEditor;
  bool FCommitting = false;
  std::exception_ptr FCommitError;
  QPointer<QWidget> FErrorParent;
};

}  // namespace tk
