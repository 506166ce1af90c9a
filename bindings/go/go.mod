module ssw

go 1.19
