#pragma once

class QIcon;
class QObject;
class TImageList;

// The main window's image list ImageList1: five 32 × 32 images drawn for
// this program and shipped as resources.
//   0 key, 1 export, 2 USB key, 3 exit, 4 refresh
class ActionImages {
public:
    enum Index { Key = 0, Export = 1, UsbKey = 2, Exit = 3, Refresh = 4 };
    static constexpr int Count = 5;

    static TImageList* createImageList(QObject* owner);
    // The image with its transparency, for actions and buttons.
    static QIcon icon(int index);
};
