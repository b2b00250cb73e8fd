# Writes the build stamp the desktop module and the program compare before
# the module is used (cmake -P, run by the build): the version, the compiler
# and a digest of the toolkit's headers, whose classes the module uses as the
# program lays them out.
#   -D OUT=header -D VERSION=x.y.z -D COMPILER=id-version -D FOLDER=src/toolkit
set(text "${VERSION};${COMPILER}")
file(GLOB headers ${FOLDER}/*.h)
list(SORT headers)
foreach(header ${headers})
  file(READ ${header} body)
  string(APPEND text ";${body}")
endforeach()
string(SHA256 digest "${text}")
string(SUBSTRING ${digest} 0 16 digest)
set(content "#pragma once\n#define VANTOR_DESKTOP_STAMP \"Tarvo Vantor ${VERSION} ${digest}\"\n")
file(WRITE ${OUT} "${content}")
