#include "DBGrid.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QScrollBar>
#include <QWheelEvent>

#include "MessageBoxes.h"

namespace tk {

// The view itself: hands keys, wheel and the start of editing to the grid first.
class TDBGridView : public QTableView {
 public:
  TDBGridView(TDBGrid& grid) : QTableView(&grid), FGrid(grid) {}

  // Writes the open cell editor; a refused value keeps the editor open for correction.
  void CommitEditor() {
    if (state() != QAbstractItemView::EditingState) return;
    QWidget* editor = QApplication::focusWidget();
    if (!editor || !isAncestorOf(editor)) return;
    commitData(editor);
    if (!FGrid.FModel->CommitFailed()) closeEditor(editor, QAbstractItemDelegate::NoHint);
  }

 protected:
  void keyPressEvent(QKeyEvent* event) override {
    bool handled = false;
    // A failed grid key was the grid's: the view must not try the move a second time.
    if (!Guarded(&FGrid, [&] { handled = FGrid.GridKey(event); })) handled = true;
    if (handled)
      event->accept();
    else
      QTableView::keyPressEvent(event);
  }
  void wheelEvent(QWheelEvent* event) override {
    const int steps = event->angleDelta().y() / 120;
    if (steps != 0)
      Guarded(&FGrid, [&] {
        if (TDataSet* dataSet = FGrid.FModel->DataSet(); dataSet && dataSet->Active()) dataSet->MoveBy(-steps);
      });
    event->accept();
  }
  bool edit(const QModelIndex& index, EditTrigger trigger, QEvent* event) override {
    if (trigger == QAbstractItemView::NoEditTriggers || trigger == QAbstractItemView::CurrentChanged)
      return QTableView::edit(index, trigger, event);
    if (!(model()->flags(index) & Qt::ItemIsEditable)) return false;
    bool editing = false;
    Guarded(&FGrid, [&] {
      if (index.row() != FGrid.FModel->ActiveRow()) FGrid.MoveToRow(index.row());
      editing = FGrid.FModel->BeginEdit();
    });
    return editing && QTableView::edit(index, trigger, event);
  }
  void resizeEvent(QResizeEvent* event) override {
    QTableView::resizeEvent(event);
    Guarded(&FGrid, [&] { FGrid.FitRows(); });
  }

 private:
  TDBGrid& FGrid;
};

TDBGrid::TDBGrid(QWidget* parent) : QWidget(parent) {
  FModel = new TDBGridModel(this);
  FModel->setObjectName(QStringLiteral("GridModel"));
  FModel->SetErrorParent(this);
  FView = new TDBGridView(*this);
  FView->setObjectName(QStringLiteral("GridView"));
  FView->setModel(FModel);
  FView->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  FView->setSelectionMode(QAbstractItemView::SingleSelection);
  FView->setSelectionBehavior(QAbstractItemView::SelectItems);
  FView->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                         QAbstractItemView::AnyKeyPressed);
  FView->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  FView->verticalHeader()->setDefaultSectionSize(FView->fontMetrics().height() + 6);
  FView->verticalHeader()->setFixedWidth(FView->fontMetrics().horizontalAdvance(QLatin1Char('W')) + 8);
  FScrollBar = new QScrollBar(Qt::Vertical, this);
  FScrollBar->setObjectName(QStringLiteral("GridScrollBar"));
  FScrollBar->setRange(0, 0);
  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addWidget(FView);
  layout->addWidget(FScrollBar);

  connect(FModel, &TDBGridModel::WindowChanged, this, [this] { Guarded(this, [this] { WindowChanged(); }); });
  connect(FModel, &QAbstractItemModel::modelReset, this, [this] { Guarded(this, [this] { ApplyColumnWidths(); }); });
  FModel->SetCommitEditor([this] { FView->CommitEditor(); });
  connect(FView->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
          [this](const QModelIndex& current) {
            if (!FSyncing && current.isValid()) Guarded(this, [&] { MoveToRow(current.row()); });
          });
  connect(FScrollBar, &QAbstractSlider::actionTriggered, this,
          [this](int action) { Guarded(this, [&] { ScrollAction(action); }); });
}

TDBGrid::~TDBGrid() {
  // The model goes before the view's selection model notices anything of it.
  FModel->SetDataSource(nullptr);
}

QTableView* TDBGrid::View() const noexcept { return FView; }

void TDBGrid::SetDataSource(TDataSource* source) {
  FModel->SetDataSource(source);
  FitRows();
}

void TDBGrid::SetColumns(const QVector<TDBGridColumn>& columns) { FModel->SetColumns(columns); }

void TDBGrid::SetReadOnly(bool value) {
  FModel->SetReadOnly(value);
  FView->setEditTriggers(value ? QAbstractItemView::NoEditTriggers
                               : QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                                     QAbstractItemView::AnyKeyPressed);
}

int TDBGrid::VisibleRows() const {
  const int rowHeight = FView->verticalHeader()->defaultSectionSize();
  return std::max(1, FView->viewport()->height() / std::max(1, rowHeight));
}

void TDBGrid::FitRows() { FModel->SetVisibleRows(VisibleRows()); }

void TDBGrid::ApplyColumnWidths() {
  const int charWidth = FView->fontMetrics().averageCharWidth();
  for (int column = 0; column < FModel->columnCount(); ++column) {
    int width = column < FModel->Columns().size() ? FModel->Columns()[column].Width : 0;
    if (width <= 0) {
      const TField* field = FModel->FieldAt(column);
      const int chars = field ? field->DisplayWidth() : 10;
      width = std::max(chars * charWidth, FView->fontMetrics().horizontalAdvance(
                                              FModel->headerData(column, Qt::Horizontal, Qt::DisplayRole).toString())) +
              8;
    }
    FView->setColumnWidth(column, width);
  }
}

void TDBGrid::WindowChanged() {
  TDataSet* dataSet = FModel->DataSet();
  const bool active = dataSet && dataSet->Active();
  // The current cell follows the dataset's active record without moving the dataset back.
  FSyncing = true;
  struct TReset {
    bool& Flag;
    ~TReset() { Flag = false; }
  } reset{FSyncing};
  const int row = FModel->ActiveRow();
  if (row >= 0) {
    const int column = std::max(0, FView->currentIndex().column());
    if (column < FModel->columnCount() && FView->currentIndex() != FModel->index(row, column))
      FView->setCurrentIndex(FModel->index(row, column));
  }
  const QSignalBlocker block(FScrollBar);
  if (!active || dataSet->IsEmpty()) {
    FScrollBar->setRange(0, 0);
    return;
  }
  if (dataSet->IsSequenced()) {
    const int count = dataSet->RecordCount();
    FScrollBar->setRange(0, std::max(0, count - 1));
    FScrollBar->setPageStep(std::max(1, VisibleRows()));
    const int recNo = dataSet->RecNo();
    if (recNo > 0) FScrollBar->setValue(recNo - 1);
  } else {
    FScrollBar->setRange(0, 2);
    FScrollBar->setPageStep(1);
    FScrollBar->setValue(dataSet->Bof() ? 0 : dataSet->Eof() ? 2 : 1);
  }
}

void TDBGrid::ScrollAction(int action) {
  TDataSet* dataSet = FModel->DataSet();
  if (!dataSet || !dataSet->Active()) return;
  CommitEdit();
  switch (action) {
    case QAbstractSlider::SliderSingleStepAdd:
      dataSet->Next();
      break;
    case QAbstractSlider::SliderSingleStepSub:
      dataSet->Prior();
      break;
    case QAbstractSlider::SliderPageStepAdd:
      dataSet->MoveBy(VisibleRows());
      break;
    case QAbstractSlider::SliderPageStepSub:
      dataSet->MoveBy(-VisibleRows());
      break;
    case QAbstractSlider::SliderToMinimum:
      dataSet->First();
      break;
    case QAbstractSlider::SliderToMaximum:
      dataSet->Last();
      break;
    case QAbstractSlider::SliderMove: {
      const int position = FScrollBar->sliderPosition();
      if (dataSet->IsSequenced())
        dataSet->SetRecNo(position + 1);
      else if (position <= 0)
        dataSet->First();
      else if (position >= FScrollBar->maximum())
        dataSet->Last();
      break;
    }
    default:
      break;
  }
  WindowChanged();
}

void TDBGrid::MoveToRow(int row) {
  TDataSet* dataSet = FModel->DataSet();
  const int active = FModel->ActiveRow();
  if (!dataSet || active < 0 || row == active) return;
  CommitEdit();
  dataSet->MoveBy(row - active);
}

void TDBGrid::CommitEdit() { FModel->CommitPendingEdit(); }

bool TDBGrid::GridKey(QKeyEvent* event) {
  TDataSet* dataSet = FModel->DataSet();
  if (!dataSet || !dataSet->Active()) return false;
  const Qt::KeyboardModifiers modifiers = event->modifiers() & ~Qt::KeypadModifier;
  const bool ctrl = modifiers == Qt::ControlModifier;
  const bool plain = modifiers == Qt::NoModifier;
  const bool editable = !FModel->ReadOnly() && dataSet->CanModify();
  switch (event->key()) {
    case Qt::Key_Up:
      if (!plain) return false;
      CommitEdit();
      dataSet->Prior();
      return true;
    case Qt::Key_Down:
      if (!plain) return false;
      CommitEdit();
      // An untouched new record at the end stays as it is: Down does not stack up empty ones.
      if (dataSet->State() == TDataSetState::dsInsert && !dataSet->Modified() && dataSet->Eof()) return true;
      dataSet->Next();
      if (dataSet->Eof() && editable) dataSet->Append();
      return true;
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
      if (!plain) return false;
      CommitEdit();
      dataSet->MoveBy(event->key() == Qt::Key_PageDown ? VisibleRows() : -VisibleRows());
      return true;
    case Qt::Key_Home:
    case Qt::Key_End:
      if (!ctrl) return false;
      CommitEdit();
      event->key() == Qt::Key_Home ? dataSet->First() : dataSet->Last();
      return true;
    case Qt::Key_Insert:
      if (!plain || !editable) return false;
      CommitEdit();
      dataSet->Insert();
      return true;
    case Qt::Key_Delete:
      if (!ctrl) return false;
      if (!editable || dataSet->IsEmpty()) return true;
      if (ShowMessageBox(this, QMessageBox::Question, QStringLiteral("Confirm"), QStringLiteral("Delete record?"),
                         QMessageBox::Ok | QMessageBox::Cancel) == QMessageBox::Ok)
        dataSet->Delete();
      return true;
    case Qt::Key_Escape:
      if (dataSet->State() != TDataSetState::dsEdit && dataSet->State() != TDataSetState::dsInsert) return false;
      dataSet->Cancel();
      return true;
    default:
      return false;
  }
}

}  // namespace tk
