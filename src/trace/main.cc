// lapmon: placeholder entry point until the trace tool lands.
int main() { return 1; }
