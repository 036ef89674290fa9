// The Qt view of a StringGrid: row 0 is the heading, column 0 the fixed marker
// column (shown as the row header), the other cells the table. Rows move by
// dragging their header, columns resize by dragging theirs; both go back into
// the grid data, which stays the one copy of the list.
#pragma once

#include <QAbstractTableModel>
#include <QPointer>
#include <QTableView>
#include <functional>

#include "StringGrid.h"

class GridModel : public QAbstractTableModel {
  public:
    explicit GridModel(StringGrid& grid, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    void SetEditable(bool editable) { editable_ = editable; }
    // Tells the view of a change of the grid: rows that appeared or went, and
    // the cells that changed, so that it repaints only what it shows of them.
    void Show(const GridChange& change);

  private:
    void showRowCount();

    StringGrid& grid_;
    int shownRows_;  // the number of rows the view was last told of
    bool editable_ = false;
    bool writing_ = false;
};

class TStringGridView : public QTableView {
  public:
    TStringGridView(StringGrid& grid, QWidget* parent = nullptr);

    StringGrid& Grid() { return grid_; }
    GridModel& Model() { return model_; }

    // Whole-row selection (the default) or single cells with the editor shown.
    void SetEditing(bool editing);
    bool Editing() const { return editing_; }
    bool EditorShown() const { return state() == EditingState; }
    // Puts the view's current cell at the grid's selected row and column.
    void ShowCurrent();

    // Virtual key code (13 Enter, 46 Delete); set it to 0 to keep it from the grid.
    std::function<void(int& key)> OnKeyDown;
    std::function<void()> OnMouseMove;
    std::function<void()> OnDblClick;

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;

  private:
    void rowHeaderMoved(int logical, int oldVisual, int newVisual);
    void closeCellEditor();
    void applyColumnWidths();

    StringGrid& grid_;
    GridModel model_;
    bool editing_ = false;
    QPointer<QWidget> editor_;  // the cell editor last opened
};
