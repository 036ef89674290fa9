#include "GridView.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QStyledItemDelegate>

namespace {
// Tells the view which editor it opened, so that leaving editing mode can
// keep what was typed and close it.
class CellDelegate : public QStyledItemDelegate {
  public:
    CellDelegate(QObject* parent, std::function<void(QWidget*)> opened)
        : QStyledItemDelegate(parent), opened_(std::move(opened)) {}
    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                          const QModelIndex& index) const override {
        QWidget* editor = QStyledItemDelegate::createEditor(parent, option, index);
        opened_(editor);
        return editor;
    }

  private:
    std::function<void(QWidget*)> opened_;
};
}  // namespace

GridModel::GridModel(StringGrid& grid, QObject* parent)
    : QAbstractTableModel(parent), grid_(grid) {}

int GridModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : grid_.RowCount() - 1;
}

int GridModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : grid_.ColCount() - 1;
}

QVariant GridModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || (role != Qt::DisplayRole && role != Qt::EditRole)) return {};
    return QString::fromStdString(grid_.Cell(index.column() + 1, index.row() + 1));
}

QVariant GridModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole) return {};
    if (orientation == Qt::Horizontal) return QString::fromStdString(grid_.Cell(section + 1, 0));
    return QString::fromStdString(grid_.Cell(0, section + 1));
}

bool GridModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (!index.isValid() || role != Qt::EditRole || !editable_) return false;
    writing_ = true;
    grid_.SetCell(index.column() + 1, index.row() + 1, value.toString().toStdString());
    writing_ = false;
    emit dataChanged(index, index);
    return true;
}

Qt::ItemFlags GridModel::flags(const QModelIndex& index) const {
    Qt::ItemFlags f = QAbstractTableModel::flags(index);
    return editable_ ? f | Qt::ItemIsEditable : f;
}

void GridModel::Refresh() {
    if (writing_) return;  // an edit in progress already shows its own cell
    beginResetModel();
    endResetModel();
}

TStringGridView::TStringGridView(StringGrid& grid, QWidget* parent)
    : QTableView(parent), grid_(grid), model_(grid, this) {
    setModel(&model_);
    setItemDelegate(new CellDelegate(this, [this](QWidget* editor) { editor_ = editor; }));
    setSelectionBehavior(SelectRows);
    setSelectionMode(SingleSelection);
    setEditTriggers(NoEditTriggers);
    setWordWrap(false);
    verticalHeader()->setSectionsMovable(true);
    verticalHeader()->setFixedWidth(grid.ColWidth(0));
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    horizontalHeader()->setStretchLastSection(false);
    horizontalHeader()->setHighlightSections(false);
    applyColumnWidths();

    connect(verticalHeader(), &QHeaderView::sectionMoved, this,
            [this](int l, int o, int n) { rowHeaderMoved(l, o, n); });
    connect(horizontalHeader(), &QHeaderView::sectionResized, this,
            [this](int logical, int, int size) { grid_.SetColWidth(logical + 1, size); });
    connect(this, &QTableView::doubleClicked, this, [this] {
        if (OnDblClick) OnDblClick();
    });
    grid_.OnChange = [this] {
        model_.Refresh();
        ShowCurrent();
    };
    grid_.OnColWidthChange = [this](int col) {
        if (col > 0) horizontalHeader()->resizeSection(col - 1, grid_.ColWidth(col));
    };
    for (QWidget* w : {viewport(), static_cast<QWidget*>(verticalHeader()),
                       static_cast<QWidget*>(horizontalHeader())}) {
        w->setMouseTracking(true);
        w->installEventFilter(this);
    }
    ShowCurrent();
}

void TStringGridView::applyColumnWidths() {
    for (int c = 1; c < grid_.ColCount(); ++c)
        horizontalHeader()->resizeSection(c - 1, grid_.ColWidth(c));
}

void TStringGridView::ShowCurrent() {
    QModelIndex index = model_.index(grid_.Row() - 1, grid_.Col() - 1);
    if (!index.isValid()) return;
    selectionModel()->setCurrentIndex(
        index, QItemSelectionModel::ClearAndSelect |
                   (editing_ ? QItemSelectionModel::NoUpdate : QItemSelectionModel::Rows));
    if (editing_) selectionModel()->select(index, QItemSelectionModel::ClearAndSelect);
}

void TStringGridView::SetEditing(bool editing) {
    if (!editing) closeCellEditor();
    editing_ = editing;
    model_.SetEditable(editing);
    setSelectionBehavior(editing ? SelectItems : SelectRows);
    setEditTriggers(editing ? AllEditTriggers : NoEditTriggers);
    ShowCurrent();
    if (editing) edit(currentIndex());
}

void TStringGridView::closeCellEditor() {
    if (!editor_ || state() != EditingState) return;
    QWidget* editor = editor_;
    commitData(editor);
    closeEditor(editor, QAbstractItemDelegate::NoHint);
}

void TStringGridView::currentChanged(const QModelIndex& current, const QModelIndex& previous) {
    QTableView::currentChanged(current, previous);
    if (!current.isValid()) return;
    grid_.SetRow(current.row() + 1);
    grid_.SetCol(current.column() + 1);
}

void TStringGridView::rowHeaderMoved(int, int oldVisual, int newVisual) {
    // The header only dragged the row's picture: put the header back in order
    // and move the row itself, marker included.
    QHeaderView* header = verticalHeader();
    header->blockSignals(true);
    header->moveSection(newVisual, oldVisual);
    header->blockSignals(false);
    grid_.SetRow(newVisual + 1);
    grid_.MoveRow(oldVisual + 1, newVisual + 1);
}

void TStringGridView::keyPressEvent(QKeyEvent* event) {
    int key = 0;
    if (event->key() == Qt::Key_Delete) key = 46;
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) key = 13;
    if (key && OnKeyDown) {
        OnKeyDown(key);
        if (key == 0) {
            event->accept();
            return;
        }
    }
    QTableView::keyPressEvent(event);
}

bool TStringGridView::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseMove && OnMouseMove) OnMouseMove();
    return QTableView::eventFilter(watched, event);
}
