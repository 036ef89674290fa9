#include "GridView.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QStyledItemDelegate>
#include <algorithm>

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

// A cell shows at most this many characters: no column is wide enough for
// more, and laying out a longer text to elide it would cost every repaint.
constexpr size_t kShownChars = 1000;

QString shownText(const std::string& text) {
    if (text.size() <= kShownChars) return QString::fromStdString(text);
    size_t cut = kShownChars;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
    return QString::fromUtf8(text.data(), qsizetype(cut)) + QChar(0x2026);
}

}  // namespace

GridModel::GridModel(StringGrid& grid, QObject* parent)
    : QAbstractTableModel(parent), grid_(grid), shownRows_(grid.DataRows()) {}

int GridModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : shownRows_;
}

int GridModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : grid_.ColCount() - 1;
}

QVariant GridModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || (role != Qt::DisplayRole && role != Qt::EditRole)) return {};
    const std::string& text = grid_.Cell(index.column() + 1, index.row() + 1);
    return role == Qt::EditRole ? QString::fromStdString(text) : shownText(text);
}

QVariant GridModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole) return {};
    if (orientation == Qt::Horizontal) return shownText(grid_.Cell(section + 1, 0));
    return shownText(grid_.Cell(0, section + 1));
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

void GridModel::Show(const GridChange& change) {
    if (writing_) return;  // an edit in progress already shows its own cell
    showRowCount();
    if (change.firstRow == 0) emit headerDataChanged(Qt::Horizontal, 0, columnCount() - 1);
    const int first = std::max(change.firstRow, 1) - 1;
    const int last = std::min(change.lastRow, shownRows_) - 1;
    if (first > last) return;
    emit dataChanged(index(first, 0), index(last, columnCount() - 1));
    emit headerDataChanged(Qt::Vertical, first, last);  // the marker column
}

// Rows that appeared or went are told as rows added or removed at the end:
// the range of changed cells covers the rows that moved up or down.
void GridModel::showRowCount() {
    const int rows = grid_.DataRows();
    if (rows > shownRows_) {
        beginInsertRows({}, shownRows_, rows - 1);
        shownRows_ = rows;
        endInsertRows();
    } else if (rows < shownRows_) {
        beginRemoveRows({}, rows, shownRows_ - 1);
        shownRows_ = rows;
        endRemoveRows();
    }
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
    grid_.OnChange = [this](const GridChange& change) {
        model_.Show(change);
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
