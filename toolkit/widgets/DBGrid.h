// The data grid: a table view over TDBGridModel, showing as many records as fit (the
// dataset's buffer window), with its own vertical scroll bar driven by the dataset's
// sequence number and record count (three positions, start, middle and end, for datasets
// without exact sequence numbers). Editing goes through the dataset's edit and insert states:
// typing into a cell starts editing, leaving the record posts. Keys: Up/Down move a record
// (Down past the last record appends), PgUp/PgDn a page, Ctrl+Home/Ctrl+End to the ends,
// Insert inserts, Ctrl+Del asks "Delete record?" and deletes, Esc cancels. Errors go to the
// default error report. GUI thread only.
#pragma once

#include <QTableView>
#include <QWidget>

#include "DBGridModel.h"

class QScrollBar;

namespace tk {

class TDBGridView;

class TDBGrid : public QWidget {
  Q_OBJECT
 public:
  explicit TDBGrid(QWidget* parent = nullptr);
  ~TDBGrid() override;

  void SetDataSource(TDataSource* source);
  TDataSource* DataSource() const { return FModel->DataSource(); }
  void SetColumns(const QVector<TDBGridColumn>& columns);
  // A read-only grid neither edits nor inserts nor deletes.
  void SetReadOnly(bool value);
  bool ReadOnly() const { return FModel->ReadOnly(); }

  TDBGridModel* Model() const noexcept { return FModel; }
  QTableView* View() const noexcept;
  QScrollBar* ScrollBar() const noexcept { return FScrollBar; }
  // Number of records that fit into the view.
  int VisibleRows() const;

 private:
  friend class TDBGridView;
  void WindowChanged();
  void FitRows();
  void ApplyColumnWidths();
  void ScrollAction(int action);
  // Handles a grid key; false when the view should handle it.
  bool GridKey(QKeyEvent* event);
  void MoveToRow(int row);
  void CommitEdit();

  TDBGridModel* FModel;
  TDBGridView* FView;
  QScrollBar* FScrollBar;
  bool FSyncing = false;
};

}  // namespace tk
