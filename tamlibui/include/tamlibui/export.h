// What libtamlibui exports: everything else stays hidden, as in the other libraries.
#pragma once

#define TAMLIBUI_API __attribute__((visibility("default")))
