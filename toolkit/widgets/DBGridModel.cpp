#include "DBGridModel.h"

#include <utility>

#include "MessageBoxes.h"

namespace tk {

namespace {

Qt::Alignment ToQt(TAlignment alignment) {
  switch (alignment) {
    case TAlignment::taRightJustify:
      return Qt::AlignRight;
    case TAlignment::taCenter:
      return Qt::AlignHCenter;
    case TAlignment::taLeftJustify:
      break;
  }
  return Qt::AlignLeft;
}

}  // namespace

// Turns the link's notifications into the model's.
class TDBGridModel::TLink : public TDataLink {
 public:
  explicit TLink(TDBGridModel& model) : FModel(model) {}

 protected:
  void ActiveChanged() override { FModel.Relayout(); }
  void LayoutChanged() override { FModel.Relayout(); }
  void DataSetChanged() override { FModel.SyncRows(); }
  void DataSetScrolled(int) override { FModel.SyncRows(); }
  void EditingChanged() override { FModel.SyncRows(); }
  void RecordChanged(TField* field) override {
    if (field)
      FModel.RowChanged(ActiveRecord());
    else
      FModel.SyncRows();
  }
  void UpdateData() override { FModel.CommitPendingEdit(); }

 private:
  TDBGridModel& FModel;
};

TDBGridModel::TDBGridModel(QObject* parent) : QAbstractTableModel(parent), FLink(std::make_unique<TLink>(*this)) {}

TDBGridModel::~TDBGridModel() = default;

TDataSource* TDBGridModel::DataSource() const { return FLink->DataSource(); }

void TDBGridModel::SetDataSource(TDataSource* source) {
  FLink->SetDataSource(source);
  Relayout();
}

TDataSet* TDBGridModel::DataSet() const { return FLink->DataSet(); }

void TDBGridModel::SetColumns(const QVector<TDBGridColumn>& columns) {
  FColumns = columns;
  Relayout();
}

TField* TDBGridModel::FieldAt(int column) const {
  return column >= 0 && column < FFields.size() ? FFields[column] : nullptr;
}

void TDBGridModel::SetVisibleRows(int rows) { FLink->SetBufferCount(rows); }

int TDBGridModel::VisibleRows() const { return FLink->BufferCount(); }

int TDBGridModel::ActiveRow() const { return FLink->Active() && FLink->RecordCount() > 0 ? FLink->ActiveRecord() : -1; }

void TDBGridModel::SetReadOnly(bool value) {
  FReadOnly = value;
  if (FRows > 0 && columnCount() > 0) emit dataChanged(index(0, 0), index(FRows - 1, columnCount() - 1));
}

bool TDBGridModel::BeginEdit() { return !FReadOnly && FLink->Edit(); }

void TDBGridModel::CommitPendingEdit() {
  if (!FCommitEditor) return;
  FCommitting = true;
  FCommitError = nullptr;
  struct TDone {
    bool& Flag;
    ~TDone() { Flag = false; }
  } done{FCommitting};
  FCommitEditor();
  if (FCommitError) std::rethrow_exception(std::exchange(FCommitError, nullptr));
}

void TDBGridModel::Relayout() {
  beginResetModel();
  FFields.clear();
  TDataSet* dataSet = FLink->Active() ? FLink->DataSet() : nullptr;
  if (!FColumns.isEmpty()) {
    for (const TDBGridColumn& column : FColumns)
      FFields.push_back(dataSet ? dataSet->FindField(column.FieldName.toStdU16String()) : nullptr);
  } else if (dataSet) {
    for (int i = 0; i < dataSet->FieldCount(); ++i)
      if (dataSet->Fields(i).Visible()) FFields.push_back(&dataSet->Fields(i));
  }
  FRows = FLink->RecordCount();
  endResetModel();
  emit WindowChanged();
}

void TDBGridModel::SyncRows() {
  const int rows = FLink->RecordCount();
  if (rows > FRows) {
    beginInsertRows(QModelIndex(), FRows, rows - 1);
    FRows = rows;
    endInsertRows();
  } else if (rows < FRows) {
    beginRemoveRows(QModelIndex(), rows, FRows - 1);
    FRows = rows;
    endRemoveRows();
  }
  if (FRows > 0) {
    if (columnCount() > 0) emit dataChanged(index(0, 0), index(FRows - 1, columnCount() - 1));
    emit headerDataChanged(Qt::Vertical, 0, FRows - 1);
  }
  emit WindowChanged();
}

void TDBGridModel::RowChanged(int row) {
  if (row >= 0 && row < FRows && columnCount() > 0) emit dataChanged(index(row, 0), index(row, columnCount() - 1));
}

int TDBGridModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : FRows; }

int TDBGridModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(FFields.size());
}

QVariant TDBGridModel::ReadCell(int row, int column, int role) const {
  TField* field = FieldAt(column);
  if (!field || row < 0 || row >= FLink->RecordCount()) return QVariant();
  // Every row is read from its own buffer: the link's active record points there meanwhile.
  struct TRestore {
    TDataLink& Link;
    int Row;
    ~TRestore() { Link.SetActiveRecord(Row); }
  } restore{*FLink, FLink->ActiveRecord()};
  FLink->SetActiveRecord(row);
  const std::u16string text = role == Qt::EditRole ? field->Text() : field->DisplayText();
  return QString::fromStdU16String(text);
}

QVariant TDBGridModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= FRows) return QVariant();
  if (role == Qt::TextAlignmentRole) {
    const TField* field = FieldAt(index.column());
    Qt::Alignment alignment = index.column() < FColumns.size() ? FColumns[index.column()].Alignment : Qt::Alignment();
    if (!alignment && field) alignment = ToQt(field->Alignment());
    return QVariant::fromValue(static_cast<int>((alignment ? alignment : Qt::AlignLeft) | Qt::AlignVCenter));
  }
  if (role != Qt::DisplayRole && role != Qt::EditRole) return QVariant();
  try {
    return ReadCell(index.row(), index.column(), role);
  } catch (...) {
    // Reads happen while painting: the report waits for the event loop, one at a time.
    if (!FReportPending) {
      FReportPending = true;
      auto* self = const_cast<TDBGridModel*>(this);
      QMetaObject::invokeMethod(
          self,
          [self, error = std::current_exception()] {
            self->FReportPending = false;
            ShowException(self->FErrorParent, error);
          },
          Qt::QueuedConnection);
    }
    return QVariant();
  }
}

bool TDBGridModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  if (!index.isValid() || role != Qt::EditRole || FReadOnly) return false;
  TField* field = FieldAt(index.column());
  if (!field) return false;
  auto write = [&] {
    TDataSet& dataSet = *FLink->DataSet();
    if (index.row() != ActiveRow()) dataSet.MoveBy(index.row() - ActiveRow());
    if (!FLink->Edit()) DatabaseError(u"Field '%s' cannot be modified", {field->DisplayLabel()});
    field->SetText(value.toString().toStdU16String());
  };
  if (!FCommitting) return Guarded(FErrorParent, write);
  // Written for a dataset operation in progress: the failure goes back to that operation.
  try {
    write();
    return true;
  } catch (...) {
    FCommitError = std::current_exception();
    return false;
  }
}

QVariant TDBGridModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation == Qt::Vertical) {
    if (role != Qt::DisplayRole || section != ActiveRow()) return QVariant();
    switch (FLink->DataSet()->State()) {
      case TDataSetState::dsEdit:
        return QStringLiteral("I");
      case TDataSetState::dsInsert:
        return QStringLiteral("*");
      default:
        return QStringLiteral("\u25B8");
    }
  }
  if (section < 0 || section >= columnCount()) return QVariant();
  const TDBGridColumn* column = section < FColumns.size() ? &FColumns[section] : nullptr;
  if (role == Qt::DisplayRole) {
    if (column && !column->Title.isEmpty()) return column->Title;
    if (const TField* field = FieldAt(section)) return QString::fromStdU16String(field->DisplayLabel());
    return column ? column->FieldName : QString();
  }
  if (role == Qt::TextAlignmentRole && column && column->TitleAlignment)
    return QVariant::fromValue(static_cast<int>(column->TitleAlignment | Qt::AlignVCenter));
  return QVariant();
}

Qt::ItemFlags TDBGridModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::NoItemFlags;
  Qt::ItemFlags result = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
  const TField* field = FieldAt(index.column());
  if (!FReadOnly && field && field->CanModify() && !FLink->ReadOnly()) result |= Qt::ItemIsEditable;
  return result;
}

}  // namespace tk
