#pragma once

#include "ui/search/unreachabledialog.h"

namespace Ui {
class MervikUnreachableDialog;
}

// The reachability dialog that the search controller opens: modal, frameless with a drawn border.
class MervikUnreachableDialog : public UnreachableDialog
{
    Q_OBJECT
public:
    MervikUnreachableDialog(CDevice* device, QWidget* parent = nullptr);
    ~MervikUnreachableDialog() override;

private:
    Ui::MervikUnreachableDialog* ui;
};
