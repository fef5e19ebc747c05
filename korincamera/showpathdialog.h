#ifndef SHOWPATHDIALOG_H
#define SHOWPATHDIALOG_H

#include "dirtreedialog.h"

// The camera's save-directory picker.
class ShowPathDialog : public DirTreeDialog
{
    Q_OBJECT
public:
    using DirTreeDialog::DirTreeDialog;
};

#endif
