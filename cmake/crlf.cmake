# Copies a text file with Windows line ends, CR LF, as a Windows user's
# editor expects them.
#   cmake -DIN=FILE -DOUT=FILE -P crlf.cmake
file(READ "${IN}" text)
string(REPLACE "\r\n" "\n" text "${text}")
string(REPLACE "\n" "\r\n" text "${text}")
file(WRITE "${OUT}" "${text}")
