// The least any separate console program costs to start: nothing at all.
int main() {
    return 0;
}
