// The recycle bin that deleting favourites moves their files to: the freedesktop trash.
#pragma once

#include "app/core/FavoriteEdit.h"

TTrash& RecycleBin();
