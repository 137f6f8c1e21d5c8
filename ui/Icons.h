// The program's pictures: tool-bar images, the list images, the idle picture
// and the program icon, drawn as SVG and compiled into the program.
#pragma once

#include <QIcon>
#include <QList>
#include <QString>

// Image indexes of the job list, in the order of ListImages().
enum ListImage { kImageReady = 0, kImageInProgress = 1, kImageDone = 2, kImageFailed = 3 };

// name: "add", "remove", "convert", "settings" or "help". The desktop theme's
// standard icon when the theme has one, else the program's own. Null for an
// unknown name.
QIcon ToolbarIcon(const QString& name);
// The program's own tool-bar image, ignoring the theme.
QIcon OwnToolbarIcon(const QString& name);
// Ready, in progress, done, failed or cancelled.
QList<QIcon> ListImages();
// The picture shown beside the tool bar while idle (32 x 37).
QIcon IdlePicture();
// Resource path of the picture the busy animation turns.
QString BusyPicturePath();
QIcon ProgramIcon();
