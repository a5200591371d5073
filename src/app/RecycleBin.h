// The recycle bin that deleting favourites moves their files to: the freedesktop trash, or
// whatever a test puts in its place.
#pragma once

#include <memory>

#include "app/core/FavoriteEdit.h"

TTrash& RecycleBin();
// Puts another trash in place (nullptr: the freedesktop trash again); returns the previous.
std::shared_ptr<TTrash> SetRecycleBin(std::shared_ptr<TTrash> trash);
