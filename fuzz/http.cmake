# Camera HTTP control: the CGI answer verdict.
norvane_add_fuzzer(cgi_answer cgi_answer_fuzzer.cpp)
