# Fuzz target of the client method handlers: any text through
# OSA_Client_CmdParser, with a callback table that fills every slot and a
# debugger that may nest requests while a callback waits.
osa_fuzz(osa_cmdparser_fuzz
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/osa_cmdparser_fuzz.cpp
  LAYERS osa::osa
  CORPUS ${CMAKE_CURRENT_SOURCE_DIR}/corpus/osa_cmdparser)
