# Fuzz target of the program-file reader: mutated ELF files loaded as a
# program and as a core file, with expressions over what they give.
if(TARGET dwarf)
  osa_fuzz(dwarf_image_fuzz
    SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/dwarf_image_fuzz.cpp
    LAYERS osa::dwarf
    CORPUS ${CMAKE_CURRENT_SOURCE_DIR}/corpus/dwarf_image)
endif()
