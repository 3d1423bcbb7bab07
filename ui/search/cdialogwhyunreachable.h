#pragma once

#include "ui/search/unreachabledialog.h"

namespace Ui {
class CDialogWhyUnreachable;
}

// The reachability dialog in the platform's own style, with a normal window frame.
class CDialogWhyUnreachable : public UnreachableDialog
{
    Q_OBJECT
public:
    CDialogWhyUnreachable(CDevice* device, QWidget* parent = nullptr);
    ~CDialogWhyUnreachable() override;

private:
    Ui::CDialogWhyUnreachable* ui;
};
