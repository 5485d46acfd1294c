import QtQuick

Window { width: 400 + } // a main document that cannot be compiled
