/* Never compiled: the project is only configured. */
int main(void) {
    return 0;
}
