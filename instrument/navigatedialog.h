#pragma once

#include <QDialog>

class ProbePositionPage;

namespace Ui {
class NavigateDialog;
}

// Moves the probe chosen on the probe position page by hand, one fixed step
// per arrow button or arrow key, while its first position is taught. Each
// move is one probe command 4F sent through the page, which is silent and
// does not wait for the move to finish.
class NavigateDialog : public QDialog
{
    Q_OBJECT

public:
    explicit NavigateDialog(ProbePositionPage* page);
    ~NavigateDialog() override;

    // Relative move of the probe (not of the window); the offsets are sent
    // as their low 8 bits (two's complement).
    void moveProbe(int dx, int dy);

    enum { Step = 20 };

private slots:
    void on_down_clicked();
    void on_right_clicked();
    void on_left_clicked();
    void on_up_clicked();

private:
    Ui::NavigateDialog* ui;
    ProbePositionPage* m_page;
};
