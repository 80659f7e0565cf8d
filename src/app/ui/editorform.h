#pragma once

// The editor window's form: its child widgets and layouts, built as a designer form would
// build them, with the designed object names. The window (widget.h) connects them.

#include <QList>

class QComboBox;
class QLabel;
class QPushButton;
class QVBoxLayout;
class QWidget;

namespace vl {

class AliasStore;
class CombinedDelegate;
class CustomLabel;
class MainWindow;
class MyTableView;
class MyTableView2;
class RemarkModel;
class RuleModel;

struct EditorForm {
    // Builds the rows of the window from top to bottom: the menu bar, the logo, the port
    // list with Connect, the column titles, the two views and the buttons.
    void setupUi(QWidget *window);
    // The rule view shows `rules` through its delegate and continues DMX series with the
    // aliases of `aliases`; both headers are hidden, the columns share the width.
    void showRules(RuleModel *rules, AliasStore *aliases);
    // The remark view shows `remarks` beside the rules, scrolling with them.
    void showRemarks(RemarkModel *remarks);

    MainWindow *menu = nullptr;
    QLabel *tiplabel = nullptr;
    QComboBox *comboBox_ComDevices = nullptr;
    QPushButton *connectButton = nullptr;
    QPushButton *checkButton = nullptr;
    QList<QLabel *> groupLabels;       // above the eleven columns; three form the orange band
    QList<CustomLabel *> titleLabels;  // the column titles with their tooltips
    MyTableView *tableView = nullptr;
    MyTableView2 *tableView_2 = nullptr;
    CombinedDelegate *delegate = nullptr;  // the rule view's
    QPushButton *pushButton = nullptr;     // "Read"
    QPushButton *pushButton_2 = nullptr;   // "Set"
    QPushButton *clearButton = nullptr;
    QPushButton *pushButton_4 = nullptr;  // "test": the light preview
    QPushButton *pushButton_3 = nullptr;  // hidden

private:
    void setupTitles(QWidget *window, QVBoxLayout *top);
};

}  // namespace vl
