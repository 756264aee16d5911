// The settlement grid and note memo shared by the maintenance and search windows: the same
// columns, titles and alignments, with widths that differ per window.
#pragma once

#include <QVector>

#include "widgets/DBGridModel.h"

class QWidget;
class QLineEdit;

namespace tk {
class TDBGrid;
class TDBMemo;
}  // namespace tk

namespace vidora {

class TVidora;

enum class TSettlementGridKind { sgMaintenance, sgSearch };

// The ten settlement columns, left to right, for one of the two windows.
QVector<tk::TDBGridColumn> SettlementColumns(TSettlementGridKind kind);

// Applies the grid's title font (bold navy) and cell font (blue).
void StyleSettlementGrid(tk::TDBGrid& grid);

// Moves Table1 to the first settlement whose key in the current index is the box's text or
// after it. A database error shows "Hiba történt !!!" and the user may go on typing; other
// errors pass on.
void IncrementalSearch(TVidora& app, QWidget* parent, const QString& text);

}  // namespace vidora
