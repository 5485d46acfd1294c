.pragma library

// Walks the visual tree of the pages, which give their parts no ids to outside.

function findButton(item, text) {
    if (item.text === text && item.clicked !== undefined)
        return item
    for (var i = 0; i < item.children.length; i++) {
        var found = findButton(item.children[i], text)
        if (found)
            return found
    }
    return null
}

function texts(item, out) {
    out = out || []
    if (item.textFormat !== undefined && item.font !== undefined)
        out.push(item)
    for (var i = 0; i < item.children.length; i++)
        texts(item.children[i], out)
    return out
}

function gridOf(page) {
    return page.children[0].children[0] // ColumnLayout, then GridView
}

function cardOf(page, index) {
    var delegate = gridOf(page).itemAtIndex(index)
    return delegate ? delegate.children[0] : null
}

function tooltipOf(card) {
    for (var i = 0; i < card.data.length; i++) {
        if (card.data[i].closePolicy !== undefined)
            return card.data[i]
    }
    return null
}

// The model's rows as [host, port, status, response].
function rowsOf(model) {
    var rows = []
    for (var i = 0; i < model.count; i++) {
        var row = model.get(i)
        rows.push([row.host, row.port, row.status, row.response])
    }
    return rows
}
