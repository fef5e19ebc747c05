#ifndef KORIN_OPENDIRDLG_H
#define KORIN_OPENDIRDLG_H

#include "dirtreedialog.h"

// The player's folder chooser for scans.
class OpenDirDlg : public DirTreeDialog
{
    Q_OBJECT
public:
    using DirTreeDialog::DirTreeDialog;
};

#endif
