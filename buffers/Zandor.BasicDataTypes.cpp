// Zandor.BasicDataTypes (being written)
