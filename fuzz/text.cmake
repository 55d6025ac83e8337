# The WWW-Authenticate grammar shared by RTSP and HTTP, with both of its readers (and the HTTP
# request-object escaping on the same bytes).
norvane_add_fuzzer(auth_challenge auth_challenge_fuzzer.cpp)
