# Camera HTTP control: the 401 challenge reader with the request-object escaping, and the CGI
# answer verdict.
norvane_add_fuzzer(http_challenge http_challenge_fuzzer.cpp)
norvane_add_fuzzer(cgi_answer cgi_answer_fuzzer.cpp)
