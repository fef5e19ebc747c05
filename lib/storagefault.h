// Why a capture could not be saved, in words the user can act on.
#ifndef KORIN_STORAGEFAULT_H
#define KORIN_STORAGEFAULT_H

#include <QString>

// The reason for a failed file-system call's errno: "the folder is missing",
// "the folder is read-only", "permission denied", "the disk is full" or
// "write error".
QString storageReason(int err);

// What keeps files from being saved in folder now, or an empty string when
// the folder is there, writable and not full.
QString storageProblem(const QString& folder);

// "Cannot save to <folder>: <reason>"
QString cannotSaveText(const QString& folder, const QString& reason);

#endif
