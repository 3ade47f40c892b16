# Writes OUTPUT, a C++ source that holds the instruction bitmaps of the folder
# PICTURES (NNN.bmp) as byte arrays, and the function InstructionBitmap(id)
# that finds one. Run with cmake -P.
file(GLOB BITMAPS ${PICTURES}/*.bmp)
set(arrays "")
set(cases "")
foreach(bitmap IN LISTS BITMAPS)
  get_filename_component(id "${bitmap}" NAME_WE)
  file(READ "${bitmap}" hex HEX)
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  string(REGEX REPLACE "(0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,)" "\\1\n" bytes "${bytes}")
  string(APPEND arrays "const unsigned char kBitmap${id}[] = {\n${bytes}};\n")
  string(APPEND cases "    case ${id}:\n      return {reinterpret_cast<const char*>(kBitmap${id}), sizeof kBitmap${id}};\n")
endforeach()
file(WRITE "${OUTPUT}.new" "// Made by cmake/EmbedBitmaps.cmake from res/pictures; do not edit.
#include \"cli/station/web/InstructionBitmaps.h\"

namespace brintel::cli {
namespace {
${arrays}}  // namespace

std::string_view InstructionBitmap(std::uint16_t id) {
  switch (id) {
${cases}    default:
      return {};
  }
}

}  // namespace brintel::cli
")
file(COPY_FILE "${OUTPUT}.new" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.new")
