// The reference for the start-up benchmark (run_e2e_bench.sh): a Win32 console
// program that does nothing, so its run time is what any program start costs
// under the same Wine.
int main() { return 0; }
