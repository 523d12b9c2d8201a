# A text file with Windows line ends, which every Windows editor shows as lines:
#   cmake -DIN=FILE -DOUT=FILE -P packaging/windows/windows_text.cmake
file(READ ${IN} text)
string(REPLACE "\r\n" "\n" text "${text}")
string(REPLACE "\n" "\r\n" text "${text}")
file(WRITE ${OUT} "${text}")
