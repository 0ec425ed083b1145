// PMImageDefs: the image rectangle passed around by image code (being written).
#pragma once
