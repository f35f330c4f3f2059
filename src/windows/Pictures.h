// The pictures of the two large buttons of the main window and the program icon, drawn in code so
// that they look the same on every machine, whatever fonts it has.
//
// The button pictures are 100 x 100 pixels: a coloured square of 80 x 80 in the middle with one
// large white bold capital, "Q" on green for encryption and "K" on teal for decryption; the border
// around the square is transparent, so the button face shows through. The icon repeats the
// design: left half green with "Q", right half teal with "K".
#pragma once

#include <QColor>
#include <QIcon>
#include <QImage>
#include <QPixmap>
#include <QString>
#include <array>

namespace qk::windows {

inline constexpr int kPictureSize = 100;
inline constexpr int kPictureSquare = 80;
inline const QColor kEncryptColor{0, 128, 0};
inline const QColor kDecryptColor{0, 128, 128};
// The sizes the program icon is drawn in, and installed in.
inline constexpr std::array<int, 6> kIconSizes{16, 32, 48, 64, 128, 256};

// The pictures as images (ARGB32, premultiplied): usable without a running application.
QImage EncImage();
QImage DecImage();
// The program icon, drawn for a square of size x size pixels.
QImage IconImage(int size);

// The same as pixmaps and as an icon; these need a QGuiApplication.
QPixmap EncPicture();
QPixmap DecPicture();
// The button pictures for any screen: drawn at one, two and three device pixels per pixel.
QIcon EncIcon();
QIcon DecIcon();
QIcon ProgramIcon();
// The folder picture of the wipe bin's button, kFolderIconSize pixels square, drawn at one, two
// and three device pixels per pixel.
inline constexpr int kFolderIconSize = 24;
QIcon FolderIcon();
// The pictures of the message boxes, drawn as shapes for any size (the icon holds them from 16
// to 192 device pixels): a blue circle with "i", a blue circle with "?", an amber triangle with
// "!", a red circle with a white cross.
enum class MessagePicture { Information, Question, Warning, Critical };
QImage MessageImage(MessagePicture kind, int size);
QIcon MessageIcon(MessagePicture kind);

// Writes the icon as <dir>/<n>x<n>/apps/qk.png for every size of kIconSizes, creating the folders;
// dir is the root of an icon theme such as share/icons/hicolor. False when a file cannot be
// written.
bool WriteIconFiles(const QString& dir);

} // namespace qk::windows
