// AlbumChooser: the library's albums; a tap makes the main list show that album.
#pragma once

#include "ui/tag_chooser.h"

class AlbumChooser : public TagChooser {
    Q_OBJECT

public:
    explicit AlbumChooser(UiContext *context, QObject *parent = nullptr);
};
