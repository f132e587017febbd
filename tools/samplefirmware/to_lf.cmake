# Rewrites an S-record file with CR LF line ends into one with LF line ends.
file(READ "${INPUT}" contents)
string(REPLACE "\r\n" "\n" contents "${contents}")
file(WRITE "${OUTPUT}" "${contents}")
