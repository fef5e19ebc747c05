#ifndef KORINCAMERA_STARTUP_H
#define KORINCAMERA_STARTUP_H

#include <QString>
#include <QStringList>

// The camera nodes video0 to video15 under devDir that open, in directory
// order. *firstCamera gets N of the lowest /dev/videoN that opened, or -1.
QStringList findCameras(const QString& devDir, int* firstCamera);

// Sets DISPLAY, COLORKEY and GPU_VIV_DISABLE_SUPERTILED_TEXTURE to their
// defaults where the environment lacks them (a name set to "" is kept).
void completeEnvironment();

// Called first thing in main, before any thread starts.
void limitMallocArenas();

#endif
