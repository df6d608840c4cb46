#!/bin/sh
# Rebuilds the committed pictures under resources/ from PictureGen.cpp and the Tango icon theme.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
resources=$(dirname "$here")
tango=/usr/share/icons/Tango/16x16
if [ ! -d "$tango" ]; then
  apt-get install -y tango-icon-theme
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
g++ -std=c++20 -O1 -fPIC -o "$work/vexa-picturegen" "$here/PictureGen.cpp" $(pkg-config --cflags --libs Qt6Gui)
"$work/vexa-picturegen" "$tango" "$resources"
cp /usr/share/doc/tango-icon-theme/copyright "$resources/icons/LICENSE-Tango"
